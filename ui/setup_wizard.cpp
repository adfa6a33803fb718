#include "ui/setup_wizard.h"

#include "app/emulator_app.h"
#include "res/resource_images.h"
#include "ui/accessibility.h"
#include "ui/comm_settings_page.h"
#include "ui/dialog_builder.h"
#include "ui/message_box.h"
#include "ui/pos_settings_page.h"

#include <QCheckBox>
#include <QKeyEvent>
#include <QLabel>
#include <QPainter>
#include <QPushButton>
#include <QSvgRenderer>

namespace {
constexpr int PAGE_TOP = 65;
constexpr int PAGE_WIDTH = 470;
constexpr int PAGE_HEIGHT = 200;
constexpr int STEP_COUNT = 4;
const QSize HEADER_SIZE(470, 64);
} // namespace

CWelcomePage::CWelcomePage(CAppSettings* settings, QWidget* parent) : CConfigPage(settings, parent) {
    BuildDialog(this, *FindDialogTemplate(IDD_WELCOME));
}

CSummaryPage::CSummaryPage(CAppSettings* settings, QWidget* parent) : CConfigPage(settings, parent) {
    BuildDialog(this, *FindDialogTemplate(IDD_SUMMARY));
    // The summary's two lines can be reached with Tab and are read whole.
    for (int id : {IDC_SUMMARY_POS, IDC_SUMMARY_COMM}) {
        auto* line = Control<QLabel>(this, id);
        line->setTextInteractionFlags(Qt::TextSelectableByKeyboard);
        line->setFocusPolicy(Qt::StrongFocus); // after the flags, which would make it click-only
    }
}

void CSummaryPage::OnPageShow() {
    if (auto* wizard = qobject_cast<CSetupWizard*>(m_pOwner))
        wizard->FillSummary();
}

CSetupWizard::CSetupWizard(CEmulatorApp* app, QWidget* parent)
    : QDialog(parent), m_pSettings(app ? &app->m_settings : nullptr) {
    setWindowFlags(Qt::Dialog | Qt::WindowTitleHint | Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint);
    BuildDialog(this, *FindDialogTemplate(IDD_SETUP_WIZARD));
    setWindowIcon(ResourceIcon(IDR_MAINFRAME));
    m_checkStartup = Control<QCheckBox>(this, IDC_WIZARD_SHOW);
    m_btnPrev = Control<QPushButton>(this, IDC_WIZARD_PREV);
    m_btnNext = Control<QPushButton>(this, IDC_WIZARD_NEXT);
    connect(m_btnNext, &QPushButton::clicked, this, &CSetupWizard::OnNext);
    connect(m_btnPrev, &QPushButton::clicked, this, &CSetupWizard::OnPrev);
    connect(Control<QPushButton>(this, IDC_WIZARD_SKIP), &QPushButton::clicked, this, &CSetupWizard::OnSkip);

    m_pageWelcome = new CWelcomePage(m_pSettings, this);
    m_pagePos = new CPosSettingsPage(app, this);
    m_pageComm = new CCommSettingsPage(app, this);
    m_pageSummary = new CSummaryPage(m_pSettings, this);
    const char* titles[] = {"Welcome", "Point-of-Sale Configuration", "Communications Configuration",
                            "Summary"};
    CConfigPage* pages[] = {m_pageWelcome, m_pagePos, m_pageComm, m_pageSummary};
    for (int i = 0; i < STEP_COUNT; ++i) {
        m_pages[i] = pages[i];
        pages[i]->m_pOwner = this;
        pages[i]->setWindowTitle(QString::fromLatin1(titles[i]));
        pages[i]->setAccessibleName(pages[i]->windowTitle());
        pages[i]->hide();
    }
    // The wizard grows to hold a page below the header and its own row of controls.
    const QSize pageSize = m_pageComm->size();
    const int controlsTop = m_btnPrev->y();
    const int grow = std::max(0, PAGE_TOP + pageSize.height() + 4 - controlsTop);
    for (QWidget* w : {static_cast<QWidget*>(m_btnPrev), static_cast<QWidget*>(m_btnNext),
                       FindControl(this, IDC_WIZARD_SKIP), static_cast<QWidget*>(m_checkStartup)})
        w->move(w->x(), w->y() + grow);
    setFixedSize(std::max(width(), pageSize.width()), height() + grow);

    // Top to bottom: the page's controls, then the row below it from left to right.
    SetTabChain({m_pageWelcome, m_pagePos, m_pageComm, m_pageSummary, m_checkStartup, m_btnPrev, m_btnNext,
                 FindControl(this, IDC_WIZARD_SKIP)});

    // Beside the grey Finish: what is missing.
    m_pFinishHint = new QLabel(QStringLiteral("Choose a POS in step 2 to finish"), this);
    m_pFinishHint->adjustSize();
    m_pFinishHint->move(FindControl(this, IDC_WIZARD_SKIP)->geometry().right() - m_pFinishHint->width(),
                        m_btnNext->y() - m_pFinishHint->height() - 4);
    m_pFinishHint->hide();

    m_nStep = 0;
    m_checkStartup->setChecked(true);
    ShowStep();
}

void CSetupWizard::ShowStep() {
    for (int i = 0; i < STEP_COUNT; ++i) {
        CConfigPage* page = m_pages[i];
        if (i == m_nStep) {
            page->setGeometry(0, PAGE_TOP, std::max(PAGE_WIDTH, page->width()),
                              std::max(PAGE_HEIGHT, page->height()));
            page->ShowPage(true);
            if (page == m_pageComm)
                m_pageComm->PreferPresentAdapter();
        } else {
            page->ShowPage(false);
        }
    }
    m_btnPrev->setEnabled(m_nStep != 0);
    const bool last = m_nStep == STEP_COUNT - 1;
    if (last) {
        m_btnNext->setText(QStringLiteral("Finish"));
        m_btnNext->setEnabled(m_bCanFinish != 0);
    } else {
        m_btnNext->setText(QStringLiteral("Next >"));
        m_btnNext->setEnabled(true);
    }
    // Why Finish is grey, in words beside it, and read with it.
    const bool blocked = last && !m_bCanFinish;
    m_pFinishHint->setVisible(blocked);
    m_btnNext->setAccessibleDescription(blocked ? m_pFinishHint->text() : QString());
    update();

    // The painted header, in words: said on each change, and read with the window.
    const QString step = QStringLiteral("Step %1 of %2: %3")
                             .arg(m_nStep + 1)
                             .arg(STEP_COUNT)
                             .arg(m_pages[m_nStep]->windowTitle());
    setAccessibleDescription(step);
    QString told = step;
    if (last)
        told +=
            blocked ? QStringLiteral(". ") + m_pFinishHint->text() : QStringLiteral(". Next is now Finish");
    Announce(this, told);
    // The focus goes to the page's first control; a page without one leaves it on the buttons.
    QWidget* first = nullptr;
    for (QWidget* w = nextInFocusChain(); w != this; w = w->nextInFocusChain()) {
        if (m_pages[m_nStep]->isAncestorOf(w) && (w->focusPolicy() & Qt::TabFocus) && w->isVisibleTo(this) &&
            w->isEnabled()) {
            first = w;
            break;
        }
    }
    if (first)
        first->setFocus(Qt::TabFocusReason);
    else if (m_btnNext->isEnabled())
        m_btnNext->setFocus(Qt::TabFocusReason);
    else
        m_btnPrev->setFocus(Qt::TabFocusReason);
}

void CSetupWizard::OnNext() {
    if (m_nStep < STEP_COUNT - 1) {
        ++m_nStep;
        ShowStep();
        return;
    }
    m_bDone = 1;
    OnOK();
}

void CSetupWizard::OnPrev() {
    if (m_nStep > 0) {
        --m_nStep;
        ShowStep();
    }
}

void CSetupWizard::OnOK() {
    if (!m_bDone)
        return;
    CommitSettings();
    done(QDialog::Accepted);
}

void CSetupWizard::CommitSettings() {
    m_pageComm->SaveToSettings();
    m_pagePos->SaveToSettings();
    if (m_pSettings)
        m_pSettings->m_bShowWizard = m_checkStartup->isChecked() ? 1 : 0;
}

void CSetupWizard::OnSkip() {
    const auto answer = ShowMessageBox(
        this,
        QStringLiteral(
            "You are about to skip the Setup Wizard and go directly to the POS Emulator.  \nAny changes to "
            "settings you have made will be lost.\n\nStart POS Emulator now?"),
        QStringLiteral("Bypass POS Emulator Setup Wizard"),
        CMessageBox::Yes | CMessageBox::No | CMessageBox::Cancel, CMessageBox::Question);
    if (answer != CMessageBox::Yes)
        return;
    if (m_pSettings)
        m_pSettings->m_bShowWizard = m_checkStartup->isChecked() ? 1 : 0;
    m_bDone = 1;
    OnCancel();
}

void CSetupWizard::OnCancel() {
    if (m_bDone) {
        done(QDialog::Rejected);
        return;
    }
    const auto answer =
        ShowMessageBox(this, QStringLiteral("Quit without saving settings?"), QStringLiteral("Quit"),
                       CMessageBox::Yes | CMessageBox::No | CMessageBox::Cancel, CMessageBox::Question);
    if (answer != CMessageBox::Yes)
        return;
    m_bQuit = 1;
    done(QDialog::Rejected);
}

void CSetupWizard::reject() {
    OnCancel();
}
void CSetupWizard::accept() {
    OnOK();
}

void CSetupWizard::keyPressEvent(QKeyEvent* event) {
    if (event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter) {
        OnOK();
        return;
    }
    QDialog::keyPressEvent(event);
}

void CSetupWizard::FillSummary() {
    m_bCanFinish = 1;
    auto* posText = Control<QLabel>(m_pageSummary, IDC_SUMMARY_POS);
    auto* posIcon = Control<QLabel>(m_pageSummary, IDC_SUMMARY_POS_ICON);
    const QString pos = m_pagePos->GetSelectedPos();
    if (pos.isEmpty()) {
        posText->setText(QStringLiteral("Not Selected"));
        posIcon->setPixmap(ResourcePixmap(IDI_NOT_CONFIGURED));
        posIcon->setProperty("iconId", IDI_NOT_CONFIGURED);
        m_bCanFinish = 0;
    } else {
        posText->setText(pos);
        posIcon->setPixmap(ResourcePixmap(IDI_CONFIGURED));
        posIcon->setProperty("iconId", IDI_CONFIGURED);
    }
    posIcon->setAccessibleName(pos.isEmpty() ? QStringLiteral("Not configured")
                                             : QStringLiteral("Configured"));
    posText->setAccessibleName(QStringLiteral("POS Selection: ") + posText->text());
    auto* commText = Control<QLabel>(m_pageSummary, IDC_SUMMARY_COMM);
    auto* commIcon = Control<QLabel>(m_pageSummary, IDC_SUMMARY_COMM_ICON);
    commText->setText(m_pageComm->IsNetworkSelected() ? QStringLiteral("Network") : QStringLiteral("Serial"));
    commText->setAccessibleName(QStringLiteral("Communications: ") + commText->text());
    commIcon->setPixmap(ResourcePixmap(IDI_CONFIGURED));
    commIcon->setProperty("iconId", IDI_CONFIGURED);
    commIcon->setAccessibleName(QStringLiteral("Configured"));
}

void CSetupWizard::paintEvent(QPaintEvent* event) {
    QDialog::paintEvent(event);
    QPainter painter(this);
    QSvgRenderer header(ResourcePath(IDB_WIZARD_HEADER));
    header.render(&painter, QRectF(QPointF(0, 0), HEADER_SIZE));
    QFont bold(QStringLiteral("Arial"));
    bold.setPointSize(9);
    bold.setBold(true);
    QFont regular(QStringLiteral("Arial"));
    regular.setPointSize(9);
    painter.setPen(Qt::black);
    painter.setFont(bold);
    const QString step = QStringLiteral("Step %1 of %2").arg(m_nStep + 1).arg(STEP_COUNT);
    painter.drawText(QPoint(20, 20 + painter.fontMetrics().ascent()), step);
    painter.setFont(regular);
    painter.drawText(QPoint(25, 40 + painter.fontMetrics().ascent()), m_pages[m_nStep]->windowTitle());
}
