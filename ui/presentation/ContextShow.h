#pragma once

#include "presentation/QFramelessWindow.h"
#include "utility/CheckData.h"

#include <QString>

namespace Ui {
class ContextShow;
}

// The error popup shown next to a marked error: one group per finding at that
// place with its suggestions, and the actions on the finding. It changes
// nothing itself: every action hides the popup (Hide, Next and Prev excepted)
// and emits a signal that the host carries out. It keeps no finding.
class SCHOLIA_EXPORT ContextShow : public QFramelessWindow
{
    Q_OBJECT
public:
    explicit ContextShow(QWidget* parent = nullptr);
    ~ContextShow() override;

    // Lists the findings (in vector order, one group each) whose wrong text
    // occurs in text; a group reports its position in checkDatas as groupIndex.
    // Returns whether any was listed. Never shows, moves or hides the window.
    bool showCheckData(CHECK_DATAS& checkDatas, QString& text);
    // Empties the list; the window becomes 100 × 350.
    void clear();

signals:
    void apply(QString itemTitle, int itemIndex, QString groupTitle, int groupIndex);
    // The host's slot answers whether there was a further error.
    bool next();
    bool prev();
    void hideDialog();
    void addToDict();
    void reportError();
    void ignoreAll();
    void ignoreOnce();

private slots:
    void on_widgetErrorList_apply(QString itemTitle, int itemIndex, QString groupTitle, int groupIndex);
    void on_btnHide_clicked();
    void on_btnNext_clicked();
    void on_btnPrev_clicked();
    void on_actionAddToDict_triggered();
    void on_actionReportError_triggered();
    void on_actionIgnoreAll_triggered();
    void on_actionIgnoreOnce_triggered();
    void on_widgetErrorList_maxHeightChanged(int maxHeight, int maxWidth);

protected:
    void showEvent(QShowEvent* event) override;

private:
    Ui::ContextShow* ui;
};

// One-time set-up of the library's Qt environment: plug-in path next to the
// library, a QApplication if none exists, the "fusion" style and the Chinese
// catalogue. Later calls do nothing.
SCHOLIA_EXPORT void initUI();

// Creates an empty popup that deletes itself when closed, and shows it.
SCHOLIA_EXPORT void showContextShow(QWidget* parent);
