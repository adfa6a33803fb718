#pragma once

#include "res/dialog_templates.h"

#include <QFont>
#include <QHash>
#include <QList>
#include <QRect>

class QWidget;

// Dialog units of a font, as the original platform measures them: a horizontal unit is a quarter of
// the average character width, a vertical unit an eighth of the character height.
class CDialogUnits {
public:
    explicit CDialogUnits(const QFont& font);
    int X(int units) const;
    int Y(int units) const;
    QRect Rect(int x, int y, int cx, int cy) const;
    int BaseX() const { return m_nBaseX; }
    int BaseY() const { return m_nBaseY; }

private:
    int m_nBaseX;
    int m_nBaseY;
};

// The font a template asks for, with near relatives where it is missing.
QFont DialogFont(const SDialogTemplate& dialog);

// Creates the template's controls as children of `dialog`, each named by its id, and gives `dialog`
// the template's size and caption. Controls listed in `custom` are placed instead of created.
// Returns the unit conversion used.
CDialogUnits BuildDialog(QWidget* dialog, const SDialogTemplate& dialog_template,
                         const QHash<int, QWidget*>& custom = {});

// The control with the id, or nullptr.
QWidget* FindControl(const QWidget* dialog, int id);
// Chains Tab through `parts` in order: a part that takes the focus stands for itself, any other (a
// page) for the controls inside it in their present order, also those not reached by Tab now (a radio
// button not chosen keeps its place).
void SetTabChain(const QList<QWidget*>& parts);
template <class T> T* Control(const QWidget* dialog, int id) {
    return qobject_cast<T*>(FindControl(dialog, id));
}

// Places a tab strip made by BuildDialog at the top of its rectangle, above the frame of its pages.
class QTabBar;
void LayoutTabControl(QTabBar* bar);

// Inserts into a sorted drop-down list at its place, ignoring letter case; returns the index.
class QComboBox;
int InsertSorted(QComboBox* combo, const QString& text);
// The index of the item equal to the text ignoring letter case, or -1.
int FindStringExact(const QComboBox* combo, const QString& text);
