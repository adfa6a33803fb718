#include "ui/accessibility.h"

#include "ui/right_click_button.h"

#include <QAbstractButton>
#include <QAbstractItemView>
#include <QAccessible>
#include <QAccessibleWidget>
#include <QApplication>
#include <QComboBox>
#include <QLabel>
#include <QPushButton>

namespace {
const char EXPANDED_PROPERTY[] = "accessibleExpanded";
const char ANNOUNCER_NAME[] = "announcer";
const char ANNOUNCER_NEXT[] = "announcerNext";
// A screen reader asks for an announcement's text some time after the event: each of the last few
// keeps an object of its own, so that the next one does not rename it before it was read.
constexpr int ANNOUNCER_COUNT = 4;
const char STEP_ACTION[] = "Step";

// A push button as Qt presents it, with what the program adds: Run's step, a button's
// expanded or collapsed state.
class CButtonAccessible : public QAccessibleWidget {
public:
    explicit CButtonAccessible(QWidget* widget) : QAccessibleWidget(widget, QAccessible::Button) {}
    QAbstractButton* Button() const { return static_cast<QAbstractButton*>(widget()); }

    QString text(QAccessible::Text t) const override {
        QString text = QAccessibleWidget::text(t);
        if (t == QAccessible::Name && text.isEmpty())
            text = Button()->text().remove(QLatin1Char('&'));
        return text;
    }
    QAccessible::State state() const override {
        QAccessible::State state = QAccessibleWidget::state();
        state.pressed = Button()->isDown();
        if (Button()->isCheckable()) {
            state.checkable = true;
            state.checked = Button()->isChecked();
        }
        if (auto* push = qobject_cast<QPushButton*>(widget()))
            state.defaultButton = push->isDefault();
        const QVariant expanded = widget()->property(EXPANDED_PROPERTY);
        if (expanded.isValid()) {
            state.expandable = true;
            state.expanded = expanded.toBool();
            state.collapsed = !expanded.toBool();
        }
        return state;
    }
    QStringList actionNames() const override {
        QStringList names{Button()->isCheckable() ? toggleAction() : pressAction()};
        if (qobject_cast<CRightClickButton*>(widget()))
            names << QString::fromLatin1(STEP_ACTION);
        return names + QAccessibleWidget::actionNames();
    }
    QString localizedActionDescription(const QString& name) const override {
        if (name == QLatin1String(STEP_ACTION))
            return QStringLiteral("Play one line of the order (as a right click, Shift+F10 or the Menu key)");
        return QAccessibleWidget::localizedActionDescription(name);
    }
    void doAction(const QString& name) override {
        if (!widget()->isEnabled())
            return;
        if (name == pressAction() || name == toggleAction())
            Button()->click();
        else if (name == QLatin1String(STEP_ACTION))
            static_cast<CRightClickButton*>(widget())->RequestStep();
        else
            QAccessibleWidget::doAction(name);
    }
};

// What a window announces: a notification that is never drawn, named by the text it says. Its
// parent for screen readers is the application, so that Orca says the text alone and not the whole
// window around it again.
class CAnnouncerAccessible : public QAccessibleWidget {
public:
    explicit CAnnouncerAccessible(QWidget* widget) : QAccessibleWidget(widget, QAccessible::Notification) {}
    QAccessibleInterface* parent() const override { return QAccessible::queryAccessibleInterface(qApp); }
};

QAccessibleInterface* Factory(const QString& className, QObject* object) {
    if (!object || !object->isWidgetType())
        return nullptr;
    auto* widget = static_cast<QWidget*>(object);
    // Every push button: a button's state (expanded, collapsed) may come after its interface.
    if (className == QLatin1String("CRightClickButton") || className == QLatin1String("QPushButton"))
        return new CButtonAccessible(widget);
    // A dialog is introduced by Orca with every label in it, each time it comes back to the front
    // (after a message box, after the finishing dialog): the main window is presented as a window.
    if (className == QLatin1String("CMainDialog"))
        return new QAccessibleWidget(widget, QAccessible::Window);
    if (widget->objectName() == QLatin1String(ANNOUNCER_NAME))
        return new CAnnouncerAccessible(widget);
    return nullptr;
}

QString LabelText(const QLabel* label) {
    QString text = label->text().remove(QLatin1Char('&')).trimmed();
    if (text.endsWith(QLatin1Char(':')))
        text.chop(1);
    return text;
}
} // namespace

void InstallAccessibleInterfaces() {
    static const bool installed = [] {
        QAccessible::installFactory(Factory);
        return true;
    }();
    Q_UNUSED(installed);
}

void TieToLabel(QLabel* label, QWidget* field) {
    label->setBuddy(field);
    field->setAccessibleDescription(LabelText(label));
    auto* combo = qobject_cast<QComboBox*>(field);
    if (!combo)
        return;
    // Orca reads a labelled combo box by its label alone: the label carries the value too
    // ("Baud rate: 9600 combo box"), and a new value chosen with the keys is said.
    const auto show = [label, combo] {
        label->setAccessibleName(LabelText(label) + QStringLiteral(": ") + combo->currentText());
        if (combo->hasFocus() && !combo->view()->isVisible())
            Announce(combo, combo->currentText());
    };
    show();
    QObject::connect(combo, &QComboBox::currentTextChanged, label, show);
}

void SetExpandedState(QAbstractButton* button, bool expanded, const QString& whatItShows) {
    const QVariant before = button->property(EXPANDED_PROPERTY);
    button->setProperty(EXPANDED_PROPERTY, expanded);
    button->setAccessibleDescription(expanded ? QStringLiteral("Hides %1").arg(whatItShows)
                                              : QStringLiteral("Shows %1").arg(whatItShows));
    if (!before.isValid() || before.toBool() == expanded)
        return;
    QAccessible::State changed;
    changed.expanded = true;
    changed.collapsed = true;
    QAccessibleStateChangeEvent event(button, changed);
    QAccessible::updateAccessibility(&event);
    // Qt 6.4 passes no expanded-state change on to AT-SPI, nor a description change that Orca can
    // say: the change is announced instead.
    if (!button->hasFocus())
        return;
    QAccessibleInterface* face = QAccessible::queryAccessibleInterface(button);
    const QString name = face ? face->text(QAccessible::Name) : button->text();
    Announce(button, (expanded ? QStringLiteral("%1 expanded") : QStringLiteral("%1 collapsed")).arg(name));
}

AnnouncementObserver& Observer() {
    static AnnouncementObserver observer;
    return observer;
}

AnnouncementObserver SetAnnouncementObserver(AnnouncementObserver observer) {
    AnnouncementObserver previous = std::move(Observer());
    Observer() = std::move(observer);
    return previous;
}

void Announce(QWidget* inWindow, const QString& text, const QString& description) {
    if (text.isEmpty())
        return;
    if (Observer())
        Observer()(text, description);
    QWidget* window = inWindow->window();
    const QList<QWidget*> announcers =
        window->findChildren<QWidget*>(QLatin1String(ANNOUNCER_NAME), Qt::FindDirectChildrenOnly);
    const int next = window->property(ANNOUNCER_NEXT).toInt();
    window->setProperty(ANNOUNCER_NEXT, (next + 1) % ANNOUNCER_COUNT);
    QWidget* announcer = announcers.value(next);
    if (!announcer) {
        announcer = new QWidget(window, Qt::Tool | Qt::FramelessWindowHint);
        announcer->setObjectName(QLatin1String(ANNOUNCER_NAME));
    }
    announcer->setAccessibleName(text);
    announcer->setAccessibleDescription(description);
    QAccessibleEvent shown(announcer, QAccessible::ObjectShow);
    QAccessible::updateAccessibility(&shown);
}

void AnnounceStatus(QLabel* label, const QString& text) {
    const bool changed = label->text() != text;
    label->setText(text);
    if (changed)
        Announce(label, text, label->accessibleDescription());
}
