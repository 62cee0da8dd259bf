#pragma once
// Captures every box the code under test shows and answers from a script, so
// no test ever waits on a modal box. Installed for its lifetime.

#include "hostservices.h"

#include <QList>
#include <QQueue>

namespace quillet::test {

class BoxRecorder
{
public:
    BoxRecorder();
    ~BoxRecorder();
    BoxRecorder(const BoxRecorder &) = delete;
    BoxRecorder &operator=(const BoxRecorder &) = delete;

    // Answers handed out in order; when the script runs dry the first button wins.
    void script(std::initializer_list<BoxAnswer> answers);
    const QList<BoxRequest> &boxes() const { return m_boxes; }
    int count() const { return int(m_boxes.size()); }
    const BoxRequest &last() const { return m_boxes.last(); }
    void clear() { m_boxes.clear(); }

private:
    QList<BoxRequest> m_boxes;
    QQueue<BoxAnswer> m_answers;
    BoxHandler m_previous;
};

// Counts calls of the program-end hook instead of ending the test process.
class TerminateRecorder
{
public:
    TerminateRecorder();
    ~TerminateRecorder();
    TerminateRecorder(const TerminateRecorder &) = delete;
    TerminateRecorder &operator=(const TerminateRecorder &) = delete;
    int count() const { return m_count; }

private:
    int m_count = 0;
    TerminateHandler m_previous;
};

} // namespace quillet::test
