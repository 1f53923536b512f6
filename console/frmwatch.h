// The console's main window TFrmWatch: its menu, tool bar and three pages, the components it
// owns (the collector's engine with its listeners and FTP server, the settings file, the service
// manager, the 10-minute timer), its creation and the hand-over of the collection from the
// service "KelvadonManager" when it is first shown, and the exit question that hands the
// collection back.
//
// Where the rest lives, so that each part can grow on its own:
//   viewer.cpp     the record viewer of TabAdmin: WireViewer, LogFileName, LoadLogFile
//   mailpages.cpp  the mail pages TabMail and TamMailEnv: BuildMailPages,
//                  InitSettingsPage, LoadSettings, BtnSaveClick
//   frmversion.*   the version window and the help: BtnVersionClick, BtnHelpClick
//   frmsyosai.*    the details window
//   frmsplash.*    the splash window
//   collection.cpp the console's own collection run: what it does differently from the service
//                  with the engine's records, alerts, reports and failures
//
// The collection itself is the collector's engine (collector/engine.h), the same as the service's;
// this form is its host. Ownership: the form owns every component; the application owns the form.
// Threads: the GUI thread only.
#pragma once

#include <deque>
#include <memory>
#include <string>
#include <vector>

#include "collector/engine.h"
#include "console/controls/delimtable.h"
#include "console/controls/kstringgrid.h"
#include "console/controls/treelist.h"
#include "console/controls/valuecombo.h"
#include "platform/msg/timer.h"
#include "platform/ui/core/comctrls.h"
#include "platform/ui/core/extctrls.h"
#include "platform/ui/core/forms.h"
#include "platform/ui/core/grids.h"
#include "platform/ui/core/menus.h"
#include "platform/ui/core/stdctrls.h"
#include "rtl/classes.h"
#include "rtl/datetime.h"
#include "settings/inifilecompo.h"
#include "svcctl/servicemanager.h"

class TFrmWatch : public TForm, private TCollectorHost {
 public:
  explicit TFrmWatch(rtl::TComponent* Owner);
  ~TFrmWatch() override;

  // ---- menu and tool bar ----
  TImageList* ImgToolBar;
  TImageList* ImgTree;
  TImageList* ImgPage;
  TMainMenu* MainMenu1;
  TMenuItem* MnuFile;     // "ファイル(&F)"
  TMenuItem* MnuSave;     // "設定保存(&S)"
  TMenuItem* MnuClose;    // "終了(&X)"
  TMenuItem* MnuHelpTop;  // "ヘルプ(&H)"
  TMenuItem* MnuVersion;  // "バージョン(&A)"
  TMenuItem* MnuHelp;     // "ヘルプ(&H)"
  TToolBar* ToolBar1;
  TToolButton* ToolButton1;  // the separators, one before each button
  TToolButton* BtnSave;
  TToolButton* ToolButton2;
  TToolButton* BtnVersion;
  TToolButton* ToolButton3;
  TToolButton* BtnHelp;
  TToolButton* ToolButton4;
  TToolButton* BtnClose;

  // ---- pages ----
  TPageControl* PagWatch;
  TTabSheet* TabAdmin;    // "管理コンソール": the record viewer (viewer.cpp)
  TTabSheet* TabMail;     // "メール設定" (mailpages.cpp)
  TTabSheet* TamMailEnv;  // "メール環境設定" (mailpages.cpp)
  // TabAdmin's layout: the host tree on the left, a splitter, the day chooser over the grid.
  TPanel* PnlTree;
  TTreeList* TrePCList;
  TSplitter* Splitter1;
  TPanel* PnlView;
  TPanel* PnlHistory;
  TValComboBox* ValHistory;
  TKStringGrid* GrdWatch;

  // ---- components without a window ----
  // The collection: the listeners, the FTP server, the mail clients and the day-file writer.
  TCollectorEngine* Engine;
  TAsyncSocket* NetSocket;            // Engine's
  TAsyncSocket* NetBroadCast;         // Engine's
  TFtpServer* KelvadonFtp;            // Engine's
  TSyncSmtpCli* SmtpWatch;            // Engine's
  net::mail::TSyncPop3Cli* PopWatch;  // Engine's
  TIniFileCompo* WatchIni;
  TNTServiceManager* NtsWatch;
  // 600000 ms, on from creation (TimWatchTimer); it stays on during a tick.
  TTimer* TimWatch;

  // ---- state (the engine's values where the engine has them) ----
  std::string& ProgramDir;     // the program's folder, with a trailing "/"
  std::string& CollectorPort;  // both listeners' port
  std::vector<TAsyncSocket*>& ClientList;
  TAsyncSocket*& LastClient;
  ULONG& SenderFilter;  // 0: every sender is answered
  rtl::TDateTime LastReportDate = 0;
  // The viewer's: the host names of the shown day, the record-file reader, the day last loaded.
  std::unique_ptr<rtl::TStringList> HostList;
  std::unique_ptr<TDelimTable> RecordTable;
  int ShownDay = 0;

  // ---- window events (frmwatch.cpp) ----
  void FormCreate(rtl::TObject* Sender);
  void FormShow(rtl::TObject* Sender);
  void FormCloseQuery(rtl::TObject* Sender, bool& CanClose);
  void FormClose(rtl::TObject* Sender, TCloseAction& Action);
  void BtnCloseClick(rtl::TObject* Sender);

  // The state of the service "KelvadonManager"; STOPPED (after the message, with the end
  // requested) when it cannot be opened or queried.
  ntsvc::TServiceState GetServiceStatus();
  // Sends code to the service and waits 2000 ms. Raises what the service manager raises.
  void ControlWatchService(ntsvc::TServiceControlCode code);

  // ---- the record viewer (viewer.cpp) ----
  // Gives GrdWatch its look and ValHistory its days, and wires the viewer's events to TabAdmin's
  // controls (called once, at construction).
  void WireViewer();
  // ProgramDir + "RecvData/" + the local date DaysBack calendar days before today as "yyyymmdd"
  // + ".log" (calendar days: a day of 23 or 25 hours on the way counts as one).
  std::string LogFileName(int DaysBack);
  // Fills the grid from one record day file, the file's last record on top. With Host empty:
  // every record that names a host, HostList and the tree rebuilt from the file. With Host: only
  // the records whose "HostName" is Host byte for byte; HostList and the tree stay. A file that
  // cannot be opened leaves the grid empty (and, without Host, the tree with the root alone); no
  // message. REQUIRES: FormCreate has made HostList and RecordTable.
  void LoadLogFile(const std::string& Path, const std::string& Host);
  // Sets each column's width, in collection order, to the widest of its cells measured on Grid's
  // canvas plus 10, and at least MinWidth. Captions are not measured. Cost: one measure per cell.
  static void FitColumnWidths(TKStringGrid* Grid, int MinWidth);
  // The day chooser's choice: the chosen day loaded with its hosts, unless it is the day shown.
  void ValHistoryChange(rtl::TObject* Sender);
  // A tree node chosen: the root (the tree's first top-level node) loads the chosen day's
  // records, a host node that host's. Nothing while the tree is being rebuilt or without a node.
  void TrePCListChange(rtl::TObject* Sender, TTreeNode* Node);
  // Opens the details window (modal) on the current row; nothing when the grid has no rows.
  void GrdWatchDblClick(rtl::TObject* Sender);
  // Shows one arriving record line (split as SplitRecordLine does). Today shown: a new host gets
  // its node under the root, and the record goes on top unless a host node other than the
  // record's is selected. Another day shown: only HostList learns a new host. A record without
  // a host name is never shown. Column widths stay.
  void ShowArrivedRecord(const std::string& Line);

 private:
  // The root node "All Computer" (the tree's first top-level node), or null.
  TTreeNode* RootNode();
  // Inserts a row at the top of GrdWatch and fills its nine named columns, field i from
  // Value(i).
  template <typename Value>
  void FillTopRow(Value value);
  // Appends host to HostList when it is not empty and not there yet (ASCII letters folded);
  // true when it was appended.
  bool LearnHost(const std::string& host);
  // The tree made again: the root "All Computer" with one node per HostList entry, expanded.
  void RebuildTree();
  bool rebuildingTree_ = false;  // RebuildTree runs: the tree's change reports start no load

 public:
  // ---- the mail pages (mailpages.cpp) ----
  // TabMail: the alert rules "Word1".."Word5" (row n, column 1 is rule n + 1), the alert text.
  TGroupBox* GrpRule;  // "メール送信条件"
  TStringGrid* GrdRule;
  TGroupBox* GrpContent;  // "メール送信内容"
  TLabel* LblSubject;
  TEdit* EdtSubject;
  TLabel* LblBody;
  TMemo* MemBody;
  TLabel* LblWords;  // "%Word% %SearchLine%"
  // TamMailEnv: servers and addresses, in tab order, then the report choice.
  TGroupBox* GrpServer;  // "サーバー情報"
  TLabel* LblSmtpServer;
  TEdit* EdtSmtpServer;
  TLabel* LblSmtpPort;
  TEdit* EdtSmtpPort;
  TCheckBox* ChkPopSmtp;
  TGroupBox* GrpPop;
  TLabel* LblPopServer;
  TEdit* EdtPopServer;
  TLabel* LblPopPort;
  TEdit* EdtPopPort;
  TLabel* LblPopUser;
  TEdit* EdtPopUser;
  TLabel* LblPopPasswd;
  TEdit* EdtPopPasswd;  // shown as "*"
  TLabel* LblFromMail;
  TEdit* EdtFromMail;
  TLabel* LblToMail;
  TEdit* EdtToMail;
  TLabel* LblToMailNote;
  TGroupBox* GrpReport;  // "レポート設定"
  TLabel* LblReport;
  TRadioButton* RdoReportNo;
  TRadioButton* RdoReportYes;

  // Builds TabMail's and TamMailEnv's controls (called once, at construction).
  void BuildMailPages();
  // Makes TabAdmin the active page, lays out the rule grid's labels and widths, empties the text
  // controls (the two ports keep their texts) and selects RdoReportNo.
  void InitSettingsPage();
  // Fills the controls from WatchIni (each key's default when it is missing). A stored password
  // that cannot be deciphered shows as empty.
  void LoadSettings();
  // Enables the POP group, its edits and labels while ChkPopSmtp is checked, disables them while
  // not; their texts stay.
  void ChkPopSmtpClick(rtl::TObject* Sender);
  // True when the SMTP server, the sender and the recipients are not all given or all empty (an
  // empty text has no character; a blank counts): its message has been shown and the focus put
  // on the edit to fill in, whose page is shown.
  bool CheckMailSettings();
  // The check, then the pages to WatchIni and its file. Nothing is written when the check
  // refuses. Raises what TIniFileCompo::UpdateFile raises; the new values are in WatchIni then.
  void SaveSettings();
  // Tool bar BtnSave and menu "設定保存(&S)": SaveSettings.
  void BtnSaveClick(rtl::TObject* Sender);

  // ---- the collection run (collection.cpp) ----
  // The sender of alerts when "FromMail" is missing from the settings.
  static constexpr char kDefaultFromMail[] = "kelvadon-manager@localhost";
  // Stores one record line as every arriving record is stored: its stored form (RecordArrived),
  // the alert rules (ChkRecvString, which only queues), then today's record file. A failure of
  // the write is an error entry "System Error RecvFileWrite <class> : <message>" and the same
  // text in a box.
  void RecvFileWrite(const std::string& Line);
  // Appends an information (98) or error (99) entry to today's event file (never raises).
  void WriteSystemLog(int Code, const std::string& Text) { Engine->EventWrite(Code, Text); }
  // The alert rules for one record, from WatchIni's settings as they are now: nothing when
  // "FromMail" (kDefaultFromMail when missing) or "SmtpServer" is empty; else the rules of
  // GrdRule's rows ("Word1".."Word5") that fire are queued as one alert job. A failure of the
  // job shows "System Error <class> : <message>" once the job has ended (the next job does not
  // wait for the box). Raises when the queue is full.
  void ChkRecvString(const std::string& Line) override;
  // TimWatch's tick. With "FromMail", "ToMail" and "SmtpServer" set, the first tick of a new
  // calendar day against LastReportDate queues the report of LastReportDate's day when
  // "ReportSend" is "1" (none while one is pending); once it has gone through (at once without
  // a report) the chosen day is loaded again and LastReportDate becomes the tick's time. A
  // failure shows "System Error TimWatchTimer <class> : <message>" (the report's once its job
  // has ended) and leaves LastReportDate, so a later tick tries again. No event, no restart.
  void TimWatchTimer(rtl::TObject* Sender);

  // ---- the version window and the help (frmversion.cpp) ----
  // Tool bar BtnVersion and menu "バージョン(&A)": shows FrmVersion modally until it closes.
  void BtnVersionClick(rtl::TObject* Sender);
  // Tool bar BtnHelp and menu "ヘルプ(&H)": hands the help page to the desktop's opener; nothing is
  // said when there is none.
  void BtnHelpClick(rtl::TObject* Sender);

  // ---- the unattended run (KELVADON_SCREENSHOTS) ----
  // When not 0, the exit question is not shown: it is answered with this (IDYES, IDNO or
  // IDCANCEL).
  int UnattendedExitAnswer = 0;
  // True once FormShow has run to its end (the hand-over done or the end requested).
  bool FirstShowDone = false;

 private:
  // TCollectorHost: a failed handler shows its message box and the listeners go on; a failed
  // mail job's box comes once the job has ended.
  void HandlerFailed(const char* Word, const char* ClassName, const std::string& Message) override;
  // An agent's over-long line dropped: an error entry only, no box.
  void LineDropped(const char* Word, const char* ClassName, const std::string& Message) override;
  // A record arrived: Line becomes its nine fields joined with TAB, which the viewer's live
  // insertion shows (before the rules and the write).
  void RecordArrived(std::string& Line, rtl::TDateTime When) override;
  void RecordWriteFailed(const char* ClassName, const std::string& Message) override;
  // Shows text in a box once the handler under way has returned (posted to this window).
  void MessageLater(const std::string& text);
  void WndProc(TMessage& Msg) override;
  // The day chooser's day loaded again and LastReportDate := When (after the day's report).
  void DayChanged(rtl::TDateTime When);

  // Hides the splash window (when there is one) and shows an OK box with text.
  void Message(const std::string& text);
  // Opens the manager with access 5 and the service, runs body, then closes the service and the
  // manager (also when body raises).
  template <typename Body>
  void WithService(Body body);
  // Polls the service every 250 ms (without handling messages) until it is STOPPED, up to 30 s.
  // Raises what the service manager raises.
  void WaitServiceStopped();
  // The exit question's answer applied: Yes, No, or anything else as Cancel.
  void ApplyExitAnswer(int answer, bool& CanClose);

  std::deque<std::string> laterMessages_;  // MessageLater's texts, oldest first
  bool reportPending_ = false;             // a report job is queued or running
  bool shown_ = false;                     // the first show has happened
  bool stoppedService_ = false;            // this console stopped the service at its first show
};

// The program's main window.
extern TFrmWatch* FrmWatch;
