#include "net/ftp/ftptransfer.h"

#include "net/ftp/ftpcmdtable.h"
#include "net/ftp/ftplimits.h"
#include "rtl/exception.h"

namespace {

// The closing replies shared by each direction.
constexpr char kUploadAborted[] = "426 Connection closed; {reason}.";
constexpr char kUploadBroken[] = "426 Connection closed; transfer aborted. Error {error#}";
constexpr char kDownloadAborted[] = "501 Cannot RETR. {reason}";
constexpr char kDownloadBroken[] = "501 Cannot RETR. Error - {error}";
constexpr char kListingOpening[] = "150 Opening data connection for directory list.";

// The closing reply of a transfer whose data connection never came.
constexpr char kNeverCame[] = "426 Connection closed; Timeout.";
// What a transfer given up without a word of why says.
constexpr char kNoReason[] = "transfer aborted";
constexpr char kTransferOk[] = "Transfer Ok";

// Every transfer command, in the order of the command table.
const TFtpXferEntry kTransfers[] = {
    {ftpcSTOR, true, TFtpXferStream::WriteFile, "501 Cannot STOR. Transfer in progress",
     "501 Permission Denied", "501 Cannot STOR. {reason}",
     "150 Opening data connection for {name}.", "226 File received ok", kUploadAborted,
     kUploadBroken},
    {ftpcRETR, false, TFtpXferStream::ReadFile, "501 Cannot RETR. Transfer in progress",
     "500 Cannot RETR.", "501 Cannot RETR. {reason}", "150 Opening data connection for {name}.",
     "226 File sent ok", kDownloadAborted, kDownloadBroken},
    {ftpcLIST, false, TFtpXferStream::Listing, "451 Failed: Transfer in progress.", "",
     "451 Failed: {reason}.", kListingOpening, "226 File sent ok", kDownloadAborted,
     kDownloadBroken},
    {ftpcNLST, false, TFtpXferStream::Listing, "451 Failed: Transfer in progress.", "",
     "451 Failed: {reason}.", kListingOpening, "226 File sent ok", kDownloadAborted,
     kDownloadBroken},
    // APPE names no reason for any failure.
    {ftpcAPPE, true, TFtpXferStream::AppendFile, "550 APPE failed.", "500 Cannot APPE.",
     "550 APPE failed.", "150 APPE supported.  Ready to append file \"{name}\" at offset {offset}.",
     "226 File received ok", kUploadAborted, kUploadBroken},
    {ftpcSTOU, true, TFtpXferStream::NewFile, "501 Cannot STOU. Transfer in progress",
     "501 Permission Denied", "501 Cannot STOU. {reason}",
     "150 Opening data connection for {name}.", "250 '{name}': file created.", kUploadAborted,
     kUploadBroken},
    {ftpcMLSD, false, TFtpXferStream::Listing, "451 Failed: Transfer in progress.", "",
     "451 Failed: {reason}.", kListingOpening, "226 File sent ok", kDownloadAborted,
     kDownloadBroken},
};

}  // namespace

const TFtpXferEntry* FtpXferEntry(uint8_t Code) {
  for (const TFtpXferEntry& e : kTransfers)
    if (e.Code == Code) return &e;
  return nullptr;
}

std::string FtpXferText(const char* Text, const TFtpXferValues& Values) {
  struct Field {
    std::string_view Key;
    std::string Value;
  };
  const Field fields[] = {
      {"{name}", Values.Name},
      {"{offset}", std::to_string(Values.Offset)},
      {"{reason}", Values.Reason},
      {"{error}", WinsockErrorText(Values.Error)},
      {"{error#}", WinsockErrorWithCode(Values.Error)},
  };
  const std::string_view text(Text);
  std::string out;
  size_t i = 0;
  while (i < text.size()) {
    const Field* hit = nullptr;
    if (text[i] == '{')
      for (const Field& f : fields)
        if (text.compare(i, f.Key.size(), f.Key) == 0) hit = &f;
    if (!hit) {
      out += text[i++];
      continue;
    }
    out += hit->Value;
    i += hit->Key.size();
  }
  return out;
}

TFtpTransfer::TFtpTransfer(TAsyncSocket* Data) : data_(Data) {}

void TFtpTransfer::Begin(const TFtpXferEntry& Entry, const std::string& Shown, DWORD Now) {
  state_ = TFtpXferState::Waiting;
  entry_ = &Entry;
  shown_ = Shown;
  startTick_ = Now;
  linked_ = false;
  connected_ = false;
  aborting_ = false;
  result_ = kTransferOk;
  endOfData_ = false;
  dataError_ = 0;
  byteCount_ = 0;
}

void TFtpTransfer::SetConnected(bool Up) {
  connected_ = Up;
  if (Up && state_ == TFtpXferState::Waiting) state_ = TFtpXferState::Moving;
}

void TFtpTransfer::Fail(const std::string& Reason) {
  if (!Pending()) return;
  result_ = Reason;
  aborting_ = true;
  state_ = TFtpXferState::Closing;
}

void TFtpTransfer::DataEnded() {
  endOfData_ = true;
  if (Pending()) state_ = TFtpXferState::Closing;
}

std::string TFtpTransfer::ClosingReply(WORD Error) const {
  TFtpXferValues values;
  values.Name = shown_;
  values.Error = Error;
  if (aborting_) {
    values.Reason = result_.empty() ? kNoReason : result_;
    return FtpXferText(entry_->Aborted, values);
  }
  return FtpXferText(Error != 0 ? entry_->Broken : entry_->Done, values);
}

bool TFtpTransfer::Finish(TFtpXferEnd How, WORD Error, TFtpXferClosing& Closing) {
  if (!Pending()) return false;
  WORD error = Error != 0 ? Error : dataError_;
  // A peer that closed before the last block was handed over did not get the whole file.
  if (!entry_->Upload && error == 0 && !aborting_ && !endOfData_) error = WSAECONNABORTED;
  // The file is closed before the reply: whoever reacts to "226 File received ok" finds it whole.
  Reset();
  Closing.Error = error;
  Closing.Reply = How == TFtpXferEnd::NeverCame ? std::string(kNeverCame) : ClosingReply(error);
  return true;
}

void TFtpTransfer::Withdraw() {
  if (Pending()) Reset();
}

void TFtpTransfer::Reset() {
  CloseStream();
  state_ = TFtpXferState::Idle;
  linked_ = false;
  connected_ = false;
  accepted_ = false;
}

void TFtpTransfer::EnterPassive(DWORD Now) {
  passive_ = true;
  accepted_ = false;
  pasvStartTick_ = Now;
}

int TFtpTransfer::LeavePassive() {
  const int port = pasvPort_;
  pasvPort_ = 0;
  passive_ = false;
  return port;
}

void TFtpTransfer::SetStream(std::unique_ptr<TFtpStream> Stream, bool Owned) {
  stream_ = std::move(Stream);
  ownsStream_ = Owned;
}

void TFtpTransfer::DropStream() {
  stream_.reset();
  ownsStream_ = false;
}

void TFtpTransfer::CloseStream() {
  if (stream_) {
    try {
      stream_->Close();
    } catch (const rtl::Exception& E) {
      // Data that could not be written after all: the upload failed.
      if (!aborting_) {
        result_ = E.Message;
        aborting_ = true;
      }
    }
    stream_.reset();
  }
  ownsStream_ = false;
  ReleaseWriteLock();
}

void TFtpTransfer::HoldWriteLock(std::set<std::string>& Locks, const std::string& Path) {
  Locks.insert(Path);
  locks_ = &Locks;
  writeLock_ = Path;
}

void TFtpTransfer::ReleaseWriteLock() {
  if (writeLock_.empty()) return;
  if (locks_) locks_->erase(writeLock_);
  locks_ = nullptr;
  writeLock_.clear();
}

char* TFtpTransfer::Buffer() {
  if (!buffer_) buffer_.reset(new char[kFtpTransferBufferSize]);
  return buffer_.get();
}
