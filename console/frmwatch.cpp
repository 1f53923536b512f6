// TFrmWatch: layout and components, creation, the hand-over at the first show and the exit
// question.
#include "console/frmwatch.h"

#include <chrono>
#include <thread>

#include "console/images.h"
#include "console/program.h"
#include "console/texts.h"
#include "platform/ui/core/application.h"
#include "platform/ui/core/cursors.h"
#include "rtl/exception.h"
#include "rtl/files.h"
#include "settings/keys.h"

TFrmWatch* FrmWatch = nullptr;

namespace {

constexpr char kServiceName[] = "KelvadonManager";
// ControlWatchService's plain wait after the control.
constexpr int kControlWaitMs = 2000;
// After the stop, the service is polled this often, up to this long.
constexpr int kStopPollMs = 250;
constexpr int kStopPollLimitMs = 30000;
// The socket library's "address already in use".
constexpr int kAddressInUse = 10048;
// SC_MANAGER_CONNECT | SC_MANAGER_ENUMERATE_SERVICE.
constexpr uint32_t kControlManagerAccess = 5;

// Runs f; what it raises is dropped (closing what may already be broken).
template <typename F>
void Quietly(F f) {
  try {
    f();
  } catch (...) {
  }
}

void SleepMs(int ms) {
  std::this_thread::sleep_for(std::chrono::milliseconds(ms));
}

// The exception being handled: its class name as the messages show it, and its message.
struct TCaught {
  std::string ClassName = "Exception";
  std::string Message;
};
TCaught Caught() {
  try {
    throw;
  } catch (const rtl::Exception& e) {
    return {e.ClassName(), e.Message};
  } catch (const std::exception& e) {
    return {"Exception", e.what()};
  } catch (...) {
    return {"Exception", ""};
  }
}

TMenuItem* AddItem(rtl::TComponent* owner, TMenuItem* parent, const char* name, const char* caption,
                   int image) {
  auto* item = new TMenuItem(owner);
  item->Name = name;
  item->Caption = caption;
  item->ImageIndex = image;
  parent->Add(item);
  return item;
}

TToolButton* AddButton(rtl::TComponent* owner, TToolBar* bar, const char* name, int image,
                       const char* hint) {
  auto* button = new TToolButton(owner);
  button->Name = name;
  button->ImageIndex = image;
  if (image < 0) {
    button->Style = tbsSeparator;
    button->SetWidth(8);
  } else {
    button->Hint = hint;
    button->SetShowHint(true);
  }
  button->SetParent(bar);
  return button;
}

TPanel* AddPanel(rtl::TComponent* owner, TWinControl* parent, const char* name, TAlign align) {
  auto* panel = new TPanel(owner);
  panel->Name = name;
  panel->SetParent(parent);
  panel->SetAlign(align);
  panel->SetCaption("");
  return panel;
}

TTabSheet* AddPage(rtl::TComponent* owner, TPageControl* pages, const char* name,
                   const char* caption, int image) {
  auto* page = new TTabSheet(owner);
  page->Name = name;
  page->SetPageControl(pages);
  page->SetCaption(caption);
  page->ImageIndex = image;
  return page;
}

}  // namespace

TFrmWatch::TFrmWatch(rtl::TComponent* Owner)
    : TForm(Owner),
      Engine(new TCollectorEngine(this, *this)),
      ProgramDir(Engine->ProgramDir),
      CollectorPort(Engine->CollectorPort),
      ClientList(Engine->ClientList),
      LastClient(Engine->LastClient),
      SenderFilter(Engine->SenderFilter) {
  Name = "FrmWatch";
  Position = poScreenCenter;
  Font()->SetName(console::text::kFontName);
  Font()->SetHeight(-12);
  Font()->SetCharset(SHIFTJIS_CHARSET);

  // ---- components without a window ----
  NetSocket = Engine->NetSocket;
  NetBroadCast = Engine->NetBroadCast;
  KelvadonFtp = Engine->KelvadonFtp;
  SmtpWatch = Engine->SmtpWatch;
  PopWatch = Engine->PopWatch;
  WatchIni = new TIniFileCompo(this);
  WatchIni->Name = "WatchIni";
  WatchIni->AutoUpdate = false;
  WatchIni->SetCaseSensitive(false);
  WatchIni->SetDefaultFolder(dfUser);
  WatchIni->UpdateAtOnce = true;
  NtsWatch = new TNTServiceManager(this);
  NtsWatch->Name = "NtsWatch";
  NtsWatch->BeginLoading();
  NtsWatch->SetActiveManager(false);
  NtsWatch->SetActiveService(false);
  NtsWatch->SetManagerAccess(1);
  NtsWatch->SetServiceAccess(983551);
  NtsWatch->EndLoading();
  TimWatch = new TTimer(this);
  TimWatch->Name = "TimWatch";
  TimWatch->SetInterval(600000);
  TimWatch->SetEnabled(true);
  TimWatch->OnTimer = [this](rtl::TObject* s) { TimWatchTimer(s); };

  // ---- images ----
  ImgToolBar = new TImageList(this);
  ImgToolBar->Name = "ImgToolBar";
  for (const TBitmap& b : console::ToolBarImages())
    ImgToolBar->Add(b);
  ImgTree = new TImageList(this);
  ImgTree->Name = "ImgTree";
  for (const TBitmap& b : console::TreeImages())
    ImgTree->Add(b);
  ImgPage = new TImageList(this);
  ImgPage->Name = "ImgPage";
  for (const TBitmap& b : console::PageImages())
    ImgPage->Add(b);

  // ---- menu ----
  namespace t = console::text;
  MainMenu1 = new TMainMenu(this);
  MainMenu1->Name = "MainMenu1";
  MainMenu1->Images = ImgToolBar;
  MnuFile = AddItem(this, MainMenu1->Items(), "MnuFile", t::kMnuFile, -1);
  MnuSave = AddItem(this, MnuFile, "MnuSave", t::kMnuSave, 0);
  MnuClose = AddItem(this, MnuFile, "MnuClose", t::kMnuClose, 4);
  MnuHelpTop = AddItem(this, MainMenu1->Items(), "MnuHelpTop", t::kMnuHelpTop, -1);
  MnuVersion = AddItem(this, MnuHelpTop, "MnuVersion", t::kMnuVersion, 2);
  MnuHelp = AddItem(this, MnuHelpTop, "MnuHelp", t::kMnuHelp, 3);
  SetMenu(MainMenu1);
  // After the menu, which takes its height from the form's.
  SetWidth(1024);
  SetHeight(768);

  // ---- tool bar ----
  ToolBar1 = new TToolBar(this);
  ToolBar1->Name = "ToolBar1";
  ToolBar1->SetParent(this);
  ToolBar1->SetAlign(alTop);
  ToolBar1->SetHeight(29);
  ToolBar1->Images = ImgToolBar;
  ToolButton1 = AddButton(this, ToolBar1, "ToolButton1", -1, "");
  BtnSave = AddButton(this, ToolBar1, "BtnSave", 0, t::kHintSave);
  ToolButton2 = AddButton(this, ToolBar1, "ToolButton2", -1, "");
  BtnVersion = AddButton(this, ToolBar1, "BtnVersion", 2, t::kHintVersion);
  ToolButton3 = AddButton(this, ToolBar1, "ToolButton3", -1, "");
  BtnHelp = AddButton(this, ToolBar1, "BtnHelp", 3, t::kHintHelp);
  ToolButton4 = AddButton(this, ToolBar1, "ToolButton4", -1, "");
  BtnClose = AddButton(this, ToolBar1, "BtnClose", 4, t::kHintClose);
  ToolBar1->Realign();

  // ---- pages ----
  PagWatch = new TPageControl(this);
  PagWatch->Name = "PagWatch";
  PagWatch->SetParent(this);
  PagWatch->SetAlign(alClient);
  PagWatch->Images = ImgPage;
  TabAdmin = AddPage(this, PagWatch, "TabAdmin", t::kTabAdmin, 0);
  TabMail = AddPage(this, PagWatch, "TabMail", t::kTabMail, 1);
  TamMailEnv = AddPage(this, PagWatch, "TamMailEnv", t::kTamMailEnv, 2);

  // TabAdmin: a lowered panel of 201 pixels with the host tree, a 4-pixel splitter, and a
  // lowered panel with the day chooser's 23-pixel bar over the record grid.
  PnlTree = AddPanel(this, TabAdmin, "PnlTree", alLeft);
  PnlTree->SetWidth(201);
  PnlTree->SetBevelOuter(bvLowered);
  TrePCList = new TTreeList(this);
  TrePCList->Name = "TrePCList";
  TrePCList->SetParent(PnlTree);
  TrePCList->SetAlign(alClient);
  TrePCList->SetImages(ImgTree);
  TrePCList->SetIndent(19);
  TrePCList->ReadOnly = true;
  TrePCList->SetShowHint(true);
  Splitter1 = new TSplitter(this);
  Splitter1->Name = "Splitter1";
  Splitter1->SetParent(TabAdmin);
  Splitter1->SetAlign(alLeft);
  Splitter1->SetLeft(PnlTree->Width());
  Splitter1->SetWidth(4);
  PnlView = AddPanel(this, TabAdmin, "PnlView", alClient);
  PnlView->SetBevelOuter(bvLowered);
  PnlHistory = AddPanel(this, PnlView, "PnlHistory", alTop);
  PnlHistory->SetHeight(23);
  PnlHistory->SetBevelOuter(bvNone);
  ValHistory = new TValComboBox(this);
  ValHistory->Name = "ValHistory";
  ValHistory->SetParent(PnlHistory);
  ValHistory->SetBounds(0, 1, 145, 21);
  ValHistory->Style = csDropDownList;
  ValHistory->SetTabStop(false);
  GrdWatch = new TKStringGrid(this);
  GrdWatch->Name = "GrdWatch";
  GrdWatch->SetParent(PnlView);
  GrdWatch->SetAlign(alClient);
  GrdWatch->Columns()->Add();  // the form's one column; FormCreate adds the other eight

  // The mail pages and the viewer's events.
  BuildMailPages();
  WireViewer();

  // ---- events ----
  MnuSave->OnClick = [this](rtl::TObject* s) { BtnSaveClick(s); };
  MnuClose->OnClick = [this](rtl::TObject* s) { BtnCloseClick(s); };
  MnuVersion->OnClick = [this](rtl::TObject* s) { BtnVersionClick(s); };
  MnuHelp->OnClick = [this](rtl::TObject* s) { BtnHelpClick(s); };
  BtnSave->OnClick = [this](rtl::TObject* s) { BtnSaveClick(s); };
  BtnVersion->OnClick = [this](rtl::TObject* s) { BtnVersionClick(s); };
  BtnHelp->OnClick = [this](rtl::TObject* s) { BtnHelpClick(s); };
  BtnClose->OnClick = [this](rtl::TObject* s) { BtnCloseClick(s); };
  OnCreate = [this](rtl::TObject* s) { FormCreate(s); };
  OnShow = [this](rtl::TObject* s) { FormShow(s); };
  OnCloseQuery = [this](rtl::TObject* s, bool& c) { FormCloseQuery(s, c); };
  OnClose = [this](rtl::TObject* s, TCloseAction& a) { FormClose(s, a); };
  FrmWatch = this;
}

TFrmWatch::~TFrmWatch() {
  // The components call back into this form: they go while it is still whole.
  DestroyComponents();
  if (FrmWatch == this) FrmWatch = nullptr;
}

// ---- creation ----

void TFrmWatch::FormCreate(rtl::TObject* Sender) {
  try {
    Screen->SetCursor(crHourGlass);
    ProgramDir = rtl::ProgramDir();
    // The program's own name with ".ini" for its extension, in its folder: a renamed program has
    // its own file.
    WatchIni->SetFileName(ProgramDir +
                          rtl::ExtractFileName(rtl::ChangeFileExt(rtl::ProgramFileName(), ".ini")));
    rtl::TFormatSettings& fs = rtl::FormatSettings();
    fs.ShortDateFormat = "yyyy/mm/dd";
    fs.LongDateFormat = "yyyy/mm/dd";
    fs.DateSeparator = '/';
    RecordTable = std::make_unique<TDelimTable>();
    RecordTable->Separator = "\t";
    RecordTable->QuoteChar = "";
    RecordTable->Clear();
    static const char* const kFields[] = {"Date",      "Operation",  "HostName",
                                          "Comment",   "IPAddress",  "UserName",
                                          "DriveName", "DeviceName", "FileName"};
    for (int i = 0; i < 8; ++i)
      GrdWatch->Columns()->Add();
    for (int i = 0; i < GrdWatch->Columns()->Count() && i < 9; ++i) {
      TKGridColumn* column = GrdWatch->Columns()->Items(i);
      column->SetName(kFields[i]);
      column->SetCaption(kFields[i]);
      if (i < 8) column->ReadOnly = true;
    }
    HostList = std::make_unique<rtl::TStringList>();
    LoadLogFile(LogFileName(0), "");
    CollectorPort = WatchIni->ReadString(settings::kPort.Section, settings::kPort.Ident,
                                         settings::kPort.Default);
    // The listen address "0.0.0.0" is 0, never 127.0.0.1: every sender is answered.
    SenderFilter = 0;
    ClientList.clear();
    SetCaption(Application->Title);
    LastReportDate = rtl::Now();
    Screen->SetCursor(crDefault);
  } catch (...) {
    const TCaught e = Caught();
    Screen->SetCursor(crDefault);
    Message("System Error " + e.ClassName + " : " + e.Message);
    Application->Terminate();
  }
}

// ---- the hand-over ----

void TFrmWatch::FormShow(rtl::TObject* Sender) {
  if (shown_) return;
  shown_ = true;
  try {
    if (GetServiceStatus() == ntsvc::RUNNING) {
      HideSplash();
      const int answer =
          Application->MessageBox(console::text::kServiceRunning, "", MB_YESNO | MB_ICONQUESTION);
      if (answer != IDYES) {
        OnCloseQuery = nullptr;
        FirstShowDone = true;
        Close();
        return;
      }
      ShowSplash();
      stoppedService_ = true;
      ControlWatchService(ntsvc::CONTROL_STOP);
      WaitServiceStopped();
    }
    Engine->OpenNetSocket();
    Engine->OpenNetBroadCast();
    KelvadonFtp->Start();
    CloseSplash();
    ShownDay = 0;
    PagWatch->SetActivePage(TabAdmin);
    InitSettingsPage();
    LoadSettings();
    Screen->SetCursor(crDefault);
  } catch (...) {
    HideSplash();
    Screen->SetCursor(crDefault);
    const bool inUse = NetSocket->LastError == kAddressInUse;
    // What this console stopped runs again before it ends (a failure is dropped).
    if (stoppedService_) {
      try {
        WithService([&] { NtsWatch->StartService(); });
      } catch (...) {
      }
    }
    Message(inUse ? console::text::kPortInUse : console::text::kErrorFormCreate);
    Application->Terminate();
  }
  FirstShowDone = true;
}

ntsvc::TServiceState TFrmWatch::GetServiceStatus() {
  try {
    NtsWatch->SetActiveManager(false);
    NtsWatch->SetServiceName(kServiceName);
    NtsWatch->SetActiveManager(true);
    // The service stays open after the manager closes; the next open finds it open.
    NtsWatch->SetActiveService(true);
    const ntsvc::TServiceState state = NtsWatch->QueryStatus()->CurrentState;
    NtsWatch->SetActiveManager(false);
    return state;
  } catch (...) {
    Quietly([&] { NtsWatch->SetActiveManager(false); });
    Message(console::text::kErrorGetServiceStatus);
    Application->Terminate();
    return ntsvc::STOPPED;
  }
}

template <typename Body>
void TFrmWatch::WithService(Body body) {
  auto close = [&] {
    Quietly([&] { NtsWatch->SetActiveService(false); });
    Quietly([&] { NtsWatch->SetActiveManager(false); });
  };
  try {
    // The access can only change while the manager is closed.
    NtsWatch->SetActiveService(false);
    NtsWatch->SetActiveManager(false);
    NtsWatch->SetManagerAccess(kControlManagerAccess);
    NtsWatch->SetActiveManager(true);
    NtsWatch->SetServiceName(kServiceName);
    NtsWatch->SetActiveService(true);
    body();
  } catch (...) {
    close();
    throw;
  }
  close();
}

void TFrmWatch::ControlWatchService(ntsvc::TServiceControlCode code) {
  WithService([&] {
    NtsWatch->Control(code);
    SleepMs(kControlWaitMs);
  });
}

void TFrmWatch::WaitServiceStopped() {
  WithService([&] {
    for (int waited = 0;; waited += kStopPollMs) {
      if (NtsWatch->QueryStatus()->CurrentState == ntsvc::STOPPED) return;
      if (waited >= kStopPollLimitMs) return;  // the listeners' open then says what is wrong
      SleepMs(kStopPollMs);
    }
  });
}

// ---- exit ----

void TFrmWatch::FormCloseQuery(rtl::TObject* Sender, bool& CanClose) {
  CanClose = true;
  try {
    const int answer = UnattendedExitAnswer != 0
                           ? UnattendedExitAnswer
                           : Application->MessageBox(console::text::kExitQuestion, "",
                                                     MB_YESNOCANCEL | MB_ICONQUESTION);
    ApplyExitAnswer(answer, CanClose);
  } catch (...) {
    CanClose = true;
    Message(console::text::kErrorFormCloseQuery);
    Application->Terminate();
  }
}

void TFrmWatch::ApplyExitAnswer(int answer, bool& CanClose) {
  if (answer == IDYES) {
    // Both listeners and the FTP server close, and what agents had sent is stored, before the
    // service takes over again.
    Engine->Stop();
    WithService([&] { NtsWatch->StartService(); });
  } else if (answer == IDNO) {
    NetSocket->Close();
    KelvadonFtp->Stop();
    KelvadonFtp->DisconnectAll();
  } else {
    CanClose = false;
  }
}

void TFrmWatch::FormClose(rtl::TObject* Sender, TCloseAction& Action) {
  // The listeners and the FTP server close; what agents had sent and the console not yet read is
  // stored before their connections close, so the end of the console loses no record.
  Engine->Stop();
}

void TFrmWatch::BtnCloseClick(rtl::TObject* Sender) {
  Close();
}

// ---- the engine's host ----

void TFrmWatch::Message(const std::string& text) {
  HideSplash();
  ShowMessage(text);
}
