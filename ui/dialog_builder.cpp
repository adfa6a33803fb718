#include "ui/dialog_builder.h"

#include "ui/accessibility.h"

#include "res/resource_images.h"

#include <QAbstractButton>
#include <QCheckBox>
#include <QComboBox>
#include <QFontMetrics>
#include <QFrame>
#include <QGroupBox>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QListView>
#include <QProgressBar>
#include <QPushButton>
#include <QRadioButton>
#include <QTabBar>
#include <QWidget>

CDialogUnits::CDialogUnits(const QFont& font) {
    const QFontMetrics metrics(font);
    const int width =
        metrics.horizontalAdvance(QStringLiteral("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz"));
    m_nBaseX = std::max(1, (width / 26 + 1) / 2);
    m_nBaseY = std::max(1, metrics.height());
}

int CDialogUnits::X(int units) const {
    return (units * m_nBaseX + 2) / 4;
}
int CDialogUnits::Y(int units) const {
    return (units * m_nBaseY + 4) / 8;
}
QRect CDialogUnits::Rect(int x, int y, int cx, int cy) const {
    return QRect(X(x), Y(y), X(cx), Y(cy));
}

QFont DialogFont(const SDialogTemplate& dialog) {
    QFont font;
    font.setFamilies({QString::fromLatin1(dialog.pszFont), QStringLiteral("Microsoft Sans Serif"),
                      QStringLiteral("Tahoma"), QStringLiteral("DejaVu Sans")});
    font.setPointSize(dialog.nPointSize);
    return font;
}

void LayoutTabControl(QTabBar* bar) {
    const QRect rect = bar->property("tabRect").toRect();
    QWidget* frame = bar->parentWidget()->findChild<QWidget*>(bar->objectName() + QStringLiteral("-frame"));
    QTabBar probe; // the height a row of tabs takes in this font
    probe.setFont(bar->font());
    probe.addTab(QStringLiteral("X"));
    const int barHeight = probe.sizeHint().height();
    bar->setGeometry(rect.x(), rect.y(), rect.width(), barHeight);
    if (frame) {
        frame->setGeometry(rect.x(), rect.y() + barHeight - 1, rect.width(), rect.height() - barHeight + 1);
        frame->lower();
    }
}

namespace {

// Enter on a focused push button presses it, as on any desktop; the dialogs' own Enter handling
// (which ignores it) applies only while no push button has the focus.
class CEnterPressesButton : public QObject {
public:
    bool eventFilter(QObject* watched, QEvent* event) override {
        if (event->type() != QEvent::KeyPress)
            return false;
        const auto* key = static_cast<QKeyEvent*>(event);
        const Qt::KeyboardModifiers modifiers = key->modifiers() & ~Qt::KeypadModifier;
        if ((key->key() != Qt::Key_Return && key->key() != Qt::Key_Enter) || modifiers != Qt::NoModifier)
            return false;
        auto* button = static_cast<QPushButton*>(watched);
        if (button->isEnabled() && button->isVisible())
            button->click();
        return true;
    }
};

QString PlainText(const char* text) {
    return QString::fromLatin1(text ? text : "");
}

QPushButton* CreateButton(const QString& text, QWidget* parent) {
    auto* button = new QPushButton(text, parent);
    button->setAutoDefault(false);
    return button;
}

QWidget* CreateCheckBox(const SControlTemplate& c, const QString& text, QWidget* parent) {
    if (c.nFlags & CF_PUSHLIKE) {
        QPushButton* button = CreateButton(text, parent);
        button->setCheckable(true);
        return button;
    }
    auto* box = new QCheckBox(text, parent);
    if (c.nFlags & CF_LEFTTEXT)
        box->setLayoutDirection(Qt::RightToLeft);
    return box;
}

QLabel* CreateStatic(const SControlTemplate& c, const QString& text, const QRect& rect, QWidget* parent) {
    auto* label = new QLabel(text, parent);
    label->setAlignment(Qt::AlignTop | ((c.nFlags & CF_RIGHT) ? Qt::AlignRight : Qt::AlignLeft));
    label->setGeometry(rect);
    // A one-line text keeps its line when this font is wider than the template's: it grows
    // away from its aligned edge.
    const bool oneLine = c.cy <= 12;
    label->setWordWrap(!oneLine);
    if (oneLine && label->sizeHint().width() > rect.width()) {
        const int grow = label->sizeHint().width() - rect.width();
        label->setGeometry(
            rect.adjusted((c.nFlags & CF_RIGHT) ? -grow : 0, 0, (c.nFlags & CF_RIGHT) ? 0 : grow, 0));
    }
    return label;
}

// An icon keeps its own size, 32 x 32 pixels, at the control's position.
QLabel* CreateIcon(const SControlTemplate& c, const QRect& rect, QWidget* parent) {
    auto* label = new QLabel(parent);
    if (c.nImageId)
        label->setPixmap(ResourcePixmap(c.nImageId));
    if (c.nFlags & CF_SUNKEN)
        label->setFrameStyle(QFrame::Panel | QFrame::Sunken);
    label->setAlignment(Qt::AlignCenter);
    const int frame = (c.nFlags & CF_SUNKEN) ? 2 : 0;
    label->setGeometry(rect.x(), rect.y(), 32 + 2 * frame, 32 + 2 * frame);
    return label;
}

QComboBox* CreateDropList(const SControlTemplate& c, const QRect& rect, const CDialogUnits& units,
                          QWidget* parent) {
    auto* combo = new QComboBox(parent);
    combo->setEditable(false);
    if (c.pszItems)
        combo->addItems(PlainText(c.pszItems).split(QLatin1Char('\n')));
    combo->setProperty("sorted", bool(c.nFlags & CF_SORTED));
    combo->setMaxVisibleItems(std::max(4, c.cy / 8));
    // The template's height includes the opened list.
    combo->setGeometry(rect.x(), rect.y(), rect.width(), std::max(units.Y(12), combo->sizeHint().height()));
    return combo;
}

QListView* CreateListBox(const SControlTemplate& c, QWidget* parent) {
    auto* list = new QListView(parent);
    list->setUniformItemSizes(true);
    list->setLayoutMode(QListView::Batched); // a long list is laid out a piece per event-loop turn
    list->setBatchSize(4096);
    list->setEditTriggers(QAbstractItemView::NoEditTriggers);
    list->setSelectionMode(QAbstractItemView::SingleSelection);
    list->setVerticalScrollBarPolicy(Qt::ScrollBarAsNeeded);
    list->setHorizontalScrollBarPolicy((c.nFlags & CF_HSCROLL) ? Qt::ScrollBarAsNeeded
                                                               : Qt::ScrollBarAlwaysOff);
    list->setTextElideMode(Qt::ElideNone);
    return list;
}

QTabBar* CreateTab(const SControlTemplate& c, const QRect& rect, QWidget* parent) {
    auto* frame = new QFrame(parent);
    frame->setFrameStyle(QFrame::StyledPanel | QFrame::Raised);
    auto* bar = new QTabBar(parent);
    bar->setDrawBase(false);
    bar->setExpanding(false);
    bar->setObjectName(QString::number(c.nId));
    frame->setObjectName(QString::number(c.nId) + QStringLiteral("-frame"));
    bar->setProperty("tabRect", rect);
    LayoutTabControl(bar);
    return bar;
}

QProgressBar* CreateProgress(QWidget* parent) {
    auto* bar = new QProgressBar(parent);
    bar->setTextVisible(false);
    bar->setRange(0, 100);
    bar->setValue(0);
    return bar;
}

QLabel* CreateStatusLine(QWidget* parent) {
    auto* label = new QLabel(parent);
    label->setFrameStyle(QFrame::Panel | QFrame::Sunken);
    label->setAutoFillBackground(true);
    QPalette palette = label->palette();
    palette.setColor(QPalette::Window, QColor(212, 208, 200));
    label->setPalette(palette);
    label->setTextInteractionFlags(Qt::NoTextInteraction);
    return label;
}

QWidget* CreateControl(const SControlTemplate& c, QWidget* parent, const CDialogUnits& units) {
    const QRect rect = units.Rect(c.x, c.y, c.cx, c.cy);
    const QString text = PlainText(c.pszText);
    QWidget* widget = nullptr;
    switch (c.kind) { // the kinds that place themselves return at once
    case CTRL_STATIC:
        return CreateStatic(c, text, rect, parent);
    case CTRL_ICON:
        return CreateIcon(c, rect, parent);
    case CTRL_DROPLIST:
        return CreateDropList(c, rect, units, parent);
    case CTRL_TAB:
        return CreateTab(c, rect, parent);
    case CTRL_HOSTED:
        return nullptr;
    case CTRL_PUSHBUTTON:
        widget = CreateButton(text, parent);
        break;
    case CTRL_CHECKBOX:
        widget = CreateCheckBox(c, text, parent);
        break;
    case CTRL_RADIO:
        widget = new QRadioButton(text, parent);
        break;
    case CTRL_GROUPBOX:
        widget = new QGroupBox(text, parent);
        break;
    case CTRL_EDIT: {
        auto* edit = new QLineEdit(text, parent);
        edit->setReadOnly(c.nFlags & CF_READONLY);
        widget = edit;
        break;
    }
    case CTRL_LISTBOX:
        widget = CreateListBox(c, parent);
        break;
    case CTRL_PROGRESS:
        widget = CreateProgress(parent);
        break;
    case CTRL_STATUSLINE:
        widget = CreateStatusLine(parent);
        break;
    }
    widget->setGeometry(rect);
    return widget;
}

void ApplyCommon(const SControlTemplate& c, QWidget* widget, const CDialogUnits& units) {
    if (c.nId != IDC_NONE && widget->objectName().isEmpty())
        widget->setObjectName(QString::number(c.nId));
    // A control that shows text is announced by what it shows now (Qt takes it from the widget); only
    // a button that shows a picture instead keeps its template text as its name.
    if ((c.nFlags & CF_IMAGE) && c.pszText && *c.pszText)
        widget->setAccessibleName(PlainText(c.pszText).remove(QLatin1Char('&')));
    if (auto* push = qobject_cast<QPushButton*>(widget)) {
        static CEnterPressesButton enterPresses;
        push->installEventFilter(&enterPresses);
    }
    if (auto* button = qobject_cast<QAbstractButton*>(widget)) {
        if (c.nFlags & CF_IMAGE) {
            const QRect rect = units.Rect(c.x, c.y, c.cx, c.cy);
            const int side = std::min(rect.width(), rect.height()) - 6;
            button->setText(QString());
            if (c.nImageId) {
                button->setIcon(ResourceIcon(c.nImageId));
                button->setIconSize(QSize(side, side));
            }
        }
        if (auto* push = qobject_cast<QPushButton*>(button))
            push->setFlat(c.nFlags & CF_FLAT);
    }
    widget->setEnabled(!(c.nFlags & CF_DISABLED));
    widget->setVisible(!(c.nFlags & CF_HIDDEN));
}

} // namespace

CDialogUnits BuildDialog(QWidget* dialog, const SDialogTemplate& t, const QHash<int, QWidget*>& custom) {
    InstallAccessibleInterfaces();
    dialog->setFont(DialogFont(t));
    const CDialogUnits units(dialog->font());
    if (t.pszCaption)
        dialog->setWindowTitle(QString::fromLatin1(t.pszCaption));
    dialog->setObjectName(QStringLiteral("dialog-%1").arg(t.nId));
    QList<QWidget*> groups;
    QLabel* label = nullptr; // a text ending in a colon names the list or field that follows it
    for (int i = 0; i < t.nControlCount; ++i) {
        const SControlTemplate& c = t.pControls[i];
        QWidget* widget = custom.value(c.nId);
        if (widget) {
            widget->setParent(dialog);
            widget->setGeometry(units.Rect(c.x, c.y, c.cx, c.cy));
        } else {
            widget = CreateControl(c, dialog, units);
        }
        if (!widget)
            continue;
        ApplyCommon(c, widget, units);
        if (c.kind == CTRL_GROUPBOX)
            groups << widget;
        if (label && (c.kind == CTRL_DROPLIST || c.kind == CTRL_EDIT))
            TieToLabel(label, widget);
        label = c.kind == CTRL_STATIC && PlainText(c.pszText).trimmed().endsWith(QLatin1Char(':'))
                    ? qobject_cast<QLabel*>(widget)
                    : nullptr;
    }
    // Frames lie beneath the controls they surround, so that clicks reach those.
    for (QWidget* group : groups)
        group->lower();
    if (QWidget* frame =
            dialog->findChild<QWidget*>(QString::number(IDC_MAIN_TABS) + QStringLiteral("-frame")))
        frame->lower();
    dialog->setFixedSize(units.X(t.cx), units.Y(t.cy));
    return units;
}

void SetTabChain(const QList<QWidget*>& parts) {
    QList<QWidget*> chain;
    for (QWidget* part : parts) {
        if (part->focusPolicy() != Qt::NoFocus) {
            chain << part;
            continue;
        }
        for (QWidget* w = part->nextInFocusChain(); w != part && part->isAncestorOf(w);
             w = w->nextInFocusChain()) {
            if (w->focusPolicy() != Qt::NoFocus)
                chain << w;
        }
    }
    for (int i = 0; i + 1 < chain.size(); ++i)
        QWidget::setTabOrder(chain[i], chain[i + 1]);
}

QWidget* FindControl(const QWidget* dialog, int id) {
    return dialog->findChild<QWidget*>(QString::number(id), Qt::FindDirectChildrenOnly);
}

int FindStringExact(const QComboBox* combo, const QString& text) {
    for (int i = 0; i < combo->count(); ++i) {
        if (combo->itemText(i).compare(text, Qt::CaseInsensitive) == 0)
            return i;
    }
    return -1;
}

int InsertSorted(QComboBox* combo, const QString& text) {
    int index = 0;
    while (index < combo->count() && combo->itemText(index).compare(text, Qt::CaseInsensitive) <= 0)
        ++index;
    combo->insertItem(index, text);
    return index;
}
