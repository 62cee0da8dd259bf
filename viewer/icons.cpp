#include "icons.h"

#include <QApplication>
#include <QHash>
#include <QIconEngine>
#include <QPainter>
#include <QPainterPath>
#include <QPixmap>
#include <QStyle>
#include <QStyleOption>
#include <algorithm>

namespace orvane {

namespace {

// All pictures are drawn on a 16-unit grid and scaled to the pixmap size.
void DrawPage(QPainter &p, QRectF r)
{
    QPainterPath path;
    path.moveTo(r.left(), r.top());
    path.lineTo(r.right() - 3, r.top());
    path.lineTo(r.right(), r.top() + 3);
    path.lineTo(r.right(), r.bottom());
    path.lineTo(r.left(), r.bottom());
    path.closeSubpath();
    p.setPen(QPen(QColor(60, 60, 60), 1));
    p.setBrush(Qt::white);
    p.drawPath(path);
    p.setPen(QPen(QColor(120, 140, 170), 1));
    for (qreal y = r.top() + 4; y < r.bottom() - 1; y += 2.5)
        p.drawLine(QPointF(r.left() + 2, y), QPointF(r.right() - 2, y));
}

void DrawPrinter(QPainter &p)
{
    p.setPen(QPen(QColor(50, 50, 50), 1));
    p.setBrush(Qt::white);
    p.drawRect(QRectF(4.5, 1.5, 7, 5));
    p.setBrush(QColor(150, 155, 165));
    p.drawRoundedRect(QRectF(1.5, 6.5, 13, 6), 1.5, 1.5);
    p.setBrush(Qt::white);
    p.drawRect(QRectF(4.5, 10.5, 7, 4));
    p.setPen(QColor(40, 170, 60));
    p.drawPoint(QPointF(12.5, 8.5));
}

void Draw(QPainter &p, IconKind kind)
{
    switch (kind) {
    case IconKind::Open: {
        p.setPen(QPen(QColor(150, 110, 20), 1));
        p.setBrush(QColor(240, 200, 90));
        p.drawRect(QRectF(1.5, 4.5, 12, 9));
        p.drawRect(QRectF(1.5, 2.5, 5, 2));
        QPainterPath flap;
        flap.moveTo(3.5, 7.5);
        flap.lineTo(15.5, 7.5);
        flap.lineTo(13.5, 13.5);
        flap.lineTo(1.5, 13.5);
        flap.closeSubpath();
        p.setBrush(QColor(250, 220, 120));
        p.drawPath(flap);
        break;
    }
    case IconKind::Export: {
        DrawPage(p, QRectF(1.5, 1.5, 9, 13));
        p.setPen(QPen(QColor(30, 120, 200), 2));
        p.drawLine(QPointF(7, 9), QPointF(14, 9));
        p.drawLine(QPointF(11, 6), QPointF(14, 9));
        p.drawLine(QPointF(11, 12), QPointF(14, 9));
        break;
    }
    case IconKind::PrintPreview: {
        DrawPage(p, QRectF(1.5, 1.5, 10, 13));
        p.setPen(QPen(QColor(40, 40, 40), 1.5));
        p.setBrush(QColor(200, 230, 255, 200));
        p.drawEllipse(QPointF(9.5, 8.5), 3.5, 3.5);
        p.setPen(QPen(QColor(40, 40, 40), 2.2));
        p.drawLine(QPointF(12, 11), QPointF(15, 14.5));
        break;
    }
    case IconKind::Print:
        DrawPrinter(p);
        break;
    case IconKind::PrintSetup: {
        DrawPrinter(p);
        p.setPen(QPen(QColor(200, 60, 40), 1.6));
        p.drawLine(QPointF(9, 13), QPointF(11, 15));
        p.drawLine(QPointF(11, 15), QPointF(15.5, 9.5));
        break;
    }
    case IconKind::PrintDirect: {
        DrawPrinter(p);
        p.setPen(QPen(QColor(230, 160, 0), 1));
        p.setBrush(QColor(255, 200, 0));
        QPainterPath bolt;
        bolt.moveTo(12, 0.5);
        bolt.lineTo(9, 5);
        bolt.lineTo(11.5, 5);
        bolt.lineTo(10, 8.5);
        bolt.lineTo(14.5, 3.5);
        bolt.lineTo(12, 3.5);
        bolt.closeSubpath();
        p.drawPath(bolt);
        break;
    }
    case IconKind::About: {
        p.setPen(QPen(QColor(20, 70, 150), 1));
        p.setBrush(QColor(60, 120, 210));
        p.drawEllipse(QRectF(1.5, 1.5, 13, 13));
        p.setPen(Qt::white);
        QFont font = p.font();
        font.setBold(true);
        font.setPixelSize(10);
        p.setFont(font);
        p.drawText(QRectF(1.5, 1.5, 13, 13), Qt::AlignCenter, QStringLiteral("?"));
        break;
    }
    case IconKind::App: {
        p.setPen(QPen(QColor(40, 60, 90), 1));
        p.setBrush(Qt::white);
        p.drawRect(QRectF(1.5, 1.5, 13, 13));
        p.setBrush(QColor(60, 110, 180));
        p.drawRect(QRectF(1.5, 1.5, 13, 3));
        p.setPen(QColor(150, 160, 180));
        for (qreal y = 7.5; y < 14; y += 2.5)
            p.drawLine(QPointF(2, y), QPointF(14, y));
        p.drawLine(QPointF(6.5, 4.5), QPointF(6.5, 14.5));
        p.setPen(QPen(QColor(210, 50, 40), 1.5));
        p.drawLine(QPointF(8, 10), QPointF(13, 10));
        break;
    }
    }
}

QPixmap Render(IconKind kind, int size)
{
    QPixmap pixmap(size, size);
    pixmap.fill(Qt::transparent);
    QPainter p(&pixmap);
    p.setRenderHint(QPainter::Antialiasing);
    p.scale(size / 16.0, size / 16.0);
    Draw(p, kind);
    return pixmap;
}

// Draws a picture only when a size of it is first shown, so building the
// window does not paint icons for sizes nobody asks for.
class DrawnIconEngine final : public QIconEngine
{
public:
    explicit DrawnIconEngine(IconKind kind) : m_kind(kind) {}

    void paint(QPainter *painter, const QRect &rect, QIcon::Mode mode, QIcon::State state) override
    {
        painter->drawPixmap(rect, pixmap(rect.size(), mode, state));
    }

    QPixmap pixmap(const QSize &size, QIcon::Mode mode, QIcon::State) override
    {
        const int side = std::max(1, std::min(size.width(), size.height()));
        const quint64 key = (quint64(side) << 8) | quint64(mode);
        const auto it = m_cache.constFind(key);
        if (it != m_cache.cend())
            return *it;
        QPixmap result = Render(m_kind, side);
        if (mode == QIcon::Disabled || mode == QIcon::Selected) {
            QStyleOption option;
            option.palette = QApplication::palette();
            result = QApplication::style()->generatedIconPixmap(mode, result, &option);
        }
        m_cache.insert(key, result);
        return result;
    }

    QSize actualSize(const QSize &size, QIcon::Mode, QIcon::State) override
    {
        const int side = std::min(size.width(), size.height());
        return QSize(side, side);
    }

    QIconEngine *clone() const override { return new DrawnIconEngine(m_kind); }
    QString key() const override { return QStringLiteral("orvane-drawn"); }

private:
    IconKind m_kind;
    QHash<quint64, QPixmap> m_cache;
};

} // namespace

QIcon MakeIcon(IconKind kind)
{
    return QIcon(new DrawnIconEngine(kind));
}

} // namespace orvane
