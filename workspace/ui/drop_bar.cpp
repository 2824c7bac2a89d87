#include "workspace/ui/drop_bar.h"

#include <QContextMenuEvent>
#include <QCursor>
#include <QGuiApplication>
#include <QLabel>
#include <QMenu>
#include <QPainter>
#include <QScreen>
#include <QStyle>
#include <QToolButton>

namespace pellix {

namespace {

// The zone's face: the program's mark and a short invitation, light on black.
QPixmap ZonePicture(const QPixmap& mark)
{
    QPixmap face(kDropBarWidth - 22, kDropBarHeight - 8);
    face.fill(Qt::black);
    QPainter p(&face);
    p.setRenderHint(QPainter::Antialiasing);
    p.setPen(QPen(QColor(0x9f, 0xc3, 0xe6), 2, Qt::DashLine));
    p.drawRoundedRect(QRectF(6, 6, face.width() - 12, face.height() - 12), 10, 10);
    if (!mark.isNull())
        p.drawPixmap(QRect(face.width() / 2 - 24, 28, 48, 48), mark);
    p.setPen(Qt::white);
    QFont font = p.font();
    font.setBold(true);
    font.setPixelSize(15);
    p.setFont(font);
    p.drawText(QRect(8, 88, face.width() - 16, 40), Qt::AlignCenter | Qt::TextWordWrap, "Pellix DropZone");
    font.setBold(false);
    font.setPixelSize(11);
    p.setFont(font);
    p.setPen(QColor(0xcf, 0xe3, 0xf7));
    p.drawText(QRect(12, 126, face.width() - 24, 70), Qt::AlignHCenter | Qt::AlignTop | Qt::TextWordWrap,
               "Drop a link here to download its site, or files to zip them.");
    return face;
}

} // namespace

TFormDropBar::TFormDropBar(TDropTarget::TDropHandler onDrop, QMenu* popup, const QPixmap& picture)
    : QWidget(nullptr, Qt::Tool | Qt::FramelessWindowHint | Qt::WindowStaysOnTopHint), m_popup(popup)
{
    setWindowTitle(kDropBarCaption);
    setObjectName("FormDropBar");
    setAccessibleName(kDropBarCaption);
    setAttribute(Qt::WA_ShowWithoutActivating);
    setAutoFillBackground(true);
    QPalette black = palette();
    black.setColor(QPalette::Window, Qt::black);
    setPalette(black);
    setFixedWidth(kDropBarWidth);
    resize(kDropBarWidth, kDropBarRolledUp);
    setMouseTracking(true);

    imgZone = new QLabel(this);
    imgZone->setObjectName("imgZone");
    imgZone->setPixmap(ZonePicture(picture));
    imgZone->setAccessibleName(kDropBarCaption);
    imgZone->setToolTip(kDropBarHint);
    imgZone->move(4, 4);
    imgZone->resize(imgZone->pixmap().size());

    const auto button = [this](const char* name, const QString& hint, QStyle::StandardPixmap icon) {
        auto* b = new QToolButton(this);
        b->setObjectName(name);
        b->setToolTip(hint);
        b->setAccessibleName(hint);
        b->setIcon(style()->standardIcon(icon));
        // Drawn as buttons, in the desktop's colours: the style's dark glyphs vanish on black.
        b->setFixedSize(16, 16);
        b->setIconSize(QSize(12, 12));
        b->setPalette(QGuiApplication::palette());
        b->setAutoFillBackground(true);
        return b;
    };
    btnExit = button("btnExit", "Exit", QStyle::SP_TitleBarCloseButton);
    btnRestore = button("btnRestore", "Restore", QStyle::SP_TitleBarNormalButton);
    connect(btnExit, &QToolButton::clicked, this, &TFormDropBar::ExitRequested);
    connect(btnRestore, &QToolButton::clicked, this, &TFormDropBar::RestoreRequested);

    new TDropTarget(this, std::move(onDrop), [this] { RollDown(); });
    m_timer.setInterval(10);
    connect(&m_timer, &QTimer::timeout, this, &TFormDropBar::Step);
}

TFormDropBar::~TFormDropBar() = default;

void TFormDropBar::ShowZone()
{
    QScreen* screen = QGuiApplication::primaryScreen();
    const QRect area = screen ? screen->geometry() : QRect(0, 0, 1024, 768);
    move(area.x() + area.width() - width() - 60, area.y());
    resize(kDropBarWidth, kDropBarRolledUp);
    show();
    raise();
}

void TFormDropBar::RollDown()
{
    if (height() >= 200 && m_direction >= 0)
        return;
    m_direction = 1;
    m_timer.start();
}

void TFormDropBar::RollUp()
{
    if (height() <= kDropBarRolledUp && m_direction <= 0)
        return;
    m_direction = -1;
    m_timer.start();
}

void TFormDropBar::Step()
{
    // Down 5 pixels at a time to the zone's full height, up 4 at a time to the thin strip.
    if (m_direction > 0) {
        const int h = std::min(kDropBarHeight, height() + 5);
        resize(width(), h);
        if (h >= 200 && h >= kDropBarHeight)
            m_timer.stop();
    } else {
        const int h = std::max(kDropBarRolledUp, height() - 4);
        resize(width(), h);
        if (h <= kDropBarRolledUp)
            m_timer.stop();
    }
    if (!m_timer.isActive())
        m_direction = 0;
}

void TFormDropBar::enterEvent(QEnterEvent* event)
{
    QWidget::enterEvent(event);
    RollDown();
}

void TFormDropBar::leaveEvent(QEvent* event)
{
    QWidget::leaveEvent(event);
    // A menu of the zone takes the pointer without the user leaving it.
    if (!(m_popup && m_popup->isVisible()))
        RollUp();
}

void TFormDropBar::dragLeaveEvent(QDragLeaveEvent* event)
{
    QWidget::dragLeaveEvent(event);
    RollUp();
}

void TFormDropBar::contextMenuEvent(QContextMenuEvent* event)
{
    if (m_popup)
        m_popup->popup(event->globalPos());
}

void TFormDropBar::resizeEvent(QResizeEvent* event)
{
    QWidget::resizeEvent(event);
    btnExit->move(width() - 18, 4);
    btnRestore->move(width() - 18, 22);
}

} // namespace pellix
