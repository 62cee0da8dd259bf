#include "boxrecorder.h"

namespace quillet::test {

BoxRecorder::BoxRecorder()
{
    m_previous = SetMsgBoxHandler([this](const BoxRequest &req) {
        m_boxes.append(req);
        if (!m_answers.isEmpty())
            return m_answers.dequeue();
        return req.buttons == BoxButtons::YesNo ? BoxAnswer::Yes : BoxAnswer::Ok;
    });
}

BoxRecorder::~BoxRecorder()
{
    SetMsgBoxHandler(m_previous);
}

void BoxRecorder::script(std::initializer_list<BoxAnswer> answers)
{
    for (BoxAnswer a : answers)
        m_answers.enqueue(a);
}

TerminateRecorder::TerminateRecorder()
{
    m_previous = SetTerminateHandler([this] { ++m_count; });
}

TerminateRecorder::~TerminateRecorder()
{
    SetTerminateHandler(m_previous);
}

} // namespace quillet::test
