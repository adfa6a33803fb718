#pragma once

#include <QDialog>

class QProgressBar;

// "Please wait while the order is being finished...": up while Stop plays the rest of the pass.
class CFinishOrderDialog : public QDialog {
    Q_OBJECT
public:
    explicit CFinishOrderDialog(QWidget* parent = nullptr);
    void SetProgress(int count, int position);
    QProgressBar* ProgressBar() const { return m_pProgress; }

    int m_bFinishShown = 0;

public slots:
    void done(int result) override;

protected:
    void closeEvent(QCloseEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;

private:
    QProgressBar* m_pProgress;
};

class CAboutDialog : public QDialog {
    Q_OBJECT
public:
    explicit CAboutDialog(QWidget* parent = nullptr);
};
