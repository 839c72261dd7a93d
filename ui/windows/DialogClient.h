#pragma once

#include "ScholiaGlobal.h"
#include "bridge/EditorHandle.h"
#include "utility/CheckData.h"

#include <QString>
#include <QWidget>

class ClientHelper;

namespace Ui {
class DialogClient;
}

// The floating tool window: starts checks of the attached editor's document,
// steps through and clears the marked errors, chooses the kind of check, and
// carries the account and web-page commands. It follows the editor window the
// bridge announced last, remembers its position and fold state across runs,
// and stays on top while pinned.
class SCHOLIA_EXPORT DialogClient : public QWidget
{
    Q_OBJECT
public:
    explicit DialogClient(QWidget* parent = nullptr);
    // Frees the widget tree only: the bridge belongs to the host.
    ~DialogClient() override;

    // Uses bridge (not owned; null detaches). With startDetection the window
    // follows the bridge's editorDetected and the bridge starts watching focus.
    void setClientHelper(ClientHelper* bridge, bool startDetection);

    // Test-only: makes the next show restore position and fold state again,
    // as the first show of a process does.
    static void resetFirstShowForTests();

public slots:
    void checkDone(const CHECK_DATAS& checkDatas);
    void editorDetected(QString editorName, HWND hWndNew);

private slots:
    void on_btnCheckCurrentPage_clicked();
    void on_btnCheckNext10Pages_clicked();
    void on_btnExpand_clicked();
    void on_btnRemoveAll_clicked();
    void on_btnPrevious_clicked();
    void on_btnNext_clicked();
    void on_cmbType_currentIndexChanged(int index);
    void on_cbxCheckSkip_clicked(bool checked);
    void on_cbxShowErrorTip_clicked(bool checked);
    void on_cbxCheckAsYouType_clicked(bool checked);
    void on_btnUser_clicked();
    void on_btnLogin_clicked();
    void on_btnContact_clicked();
    void on_btnAbout_clicked();
    void on_btnWeb_clicked();
    void on_btnUpdate_clicked();
    void on_btnReportError_clicked();
    void on_btnPin_clicked(bool checked);

protected:
    void closeEvent(QCloseEvent* event) override;
    void showEvent(QShowEvent* event) override;

    void login();
    void showMsg(QString text);
    void upateUI();
    // Enables the check and error buttons for the attached document and writes
    // the editor name with the document's error count into the message line.
    void updateErrors();
    void updateUser();

private:
    // Fetches a text through fetch and starts a check run over it.
    template <typename Fetch>
    void startCheck(Fetch fetch, const QString& emptyTextMessage);

    Ui::DialogClient* ui;
    ClientHelper* m_helper = nullptr;
    HWND m_hWnd = nullptr;         // the editor window announced last
    HWND m_hWndChecking = nullptr; // the editor window whose run is in flight
    QString m_editorMessage;       // what the editor had to say about the marks of the last run
    QString m_typingStatus;        // why checking as the user types paused in m_hWnd; empty while it runs
    QString m_editorName;
};
