// The SMTP client's vocabulary: its exception, the enumerations the owner stores (their names and
// ordinal values never change) and the event types. Plain declarations, no state.
#pragma once

#include <cstdint>
#include <functional>
#include <string>

#include "platform/win/win.h"
#include "rtl/classes.h"
#include "rtl/exception.h"
#include "rtl/set.h"

// The only exception the SMTP client raises: misuse (a request started in the wrong state, a
// missing file in an assigned attachment list). Server refusals end a request with a code instead.
RTL_DECLARE_EXCEPTION(SmtpException, rtl::Exception);

enum TSmtpState {
  smtpReady,
  smtpDnsLookup,
  smtpConnecting,
  smtpConnected,
  smtpInternalReady,
  smtpWaitingBanner,
  smtpWaitingResponse,
  smtpAbort,
};

enum TSmtpAuthType {
  smtpAuthNone,
  smtpAuthPlain,
  smtpAuthLogin,
  smtpAuthCramMD5,
  smtpAuthCramSha1,
  smtpAuthNtlm,
  smtpAuthAutoSelect,
};

enum TSmtpPriority {
  smtpPriorityNone,
  smtpPriorityHighest,
  smtpPriorityHigh,
  smtpPriorityNormal,
  smtpPriorityLow,
  smtpPriorityLowest,
};

enum TSmtpContentType { smtpHtml, smtpPlainText };

enum TSmtpDefaultEncoding { smtpEnc7bit, smtpEnc8bit, smtpEncQuotedPrintable, smtpEncBase64 };

enum TSmtpSendMode { smtpToSocket, smtpToStream, smtpCopyToStream };

enum TSmtpShareMode {
  smtpShareCompat,
  smtpShareExclusive,
  smtpShareDenyWrite,
  smtpShareDenyRead,
  smtpShareDenyNone,
};

enum TSmtpRequest {
  smtpRqConnect = 0,
  smtpRqHelo = 1,
  smtpRqMailFrom = 2,
  smtpRqVrfy = 3,
  smtpRqRcptTo = 4,
  smtpRqData = 5,
  smtpRqQuit = 6,
  smtpRqRset = 7,
  smtpRqOpen = 8,
  smtpRqMail = 9,
  smtpRqEhlo = 10,
  smtpRqAuth = 11,
};

enum TSmtpStep {
  stepNone = 0,
  stepHelo = 1,
  stepConnect = 2,
  stepMailFrom = 3,
  stepRcptTo = 4,
  stepData = 5,
  stepVrfy = 6,
  stepQuit = 7,
  stepRset = 8,
  stepEhlo = 9,
  stepAuth = 10,
};
using TSmtpStepSet = rtl::TSet<TSmtpStep>;

enum TSmtpRcptToErrorAction { rcptActAbort = 0, rcptActRetry = 1, rcptActSkip = 2 };

// What to do with an attachment before it is opened, and after its opening (or its failure).
enum TSmtpBeforeOpenFileAction { bofaOpen = 0, bofaSkip = 1, bofaAbort = 2 };
enum TSmtpAfterOpenFileAction { aofaContinue = 0, aofaSkip = 1, aofaRetry = 2, aofaAbort = 3 };

// Events. Sender is the client component. An ErrorCode of 0 means success.
using TSmtpDisplay = std::function<void(rtl::TObject* Sender, const std::string& Msg)>;
using TSmtpRequestDone =
    std::function<void(rtl::TObject* Sender, TSmtpRequest RqType, WORD ErrorCode)>;
// A recipient (index RcptNameIdx of RcptName) was refused with ErrorCode and more follow; Action
// comes in as rcptActAbort.
using TSmtpRcptToErrorEvent = std::function<void(
    rtl::TObject* Sender, WORD ErrorCode, int32_t RcptNameIdx, TSmtpRcptToErrorAction& Action)>;
// The next body line is wanted: write it, zero-terminated, into MsgLine (at most MaxLen bytes);
// clear More instead when there is none.
using TSmtpGetDataEvent = std::function<void(rtl::TObject* Sender, int32_t LineNum, char* MsgLine,
                                             int32_t MaxLen, bool& More)>;
// A header line about to be sent, zero-terminated in a buffer of Size bytes; may be changed in
// place.
using TSmtpHeaderLineEvent = std::function<void(rtl::TObject* Sender, char* Msg, int32_t Size)>;
// The header lines of a message are complete; entries may be added or changed.
using TSmtpProcessHeaderEvent =
    std::function<void(rtl::TObject* Sender, rtl::TStringList& HdrLines)>;
// An attachment's name and MIME type may be changed.
using TSmtpAttachmentContentType = std::function<void(
    rtl::TObject* Sender, int32_t FileNumber, std::string& FileName, std::string& ContentType)>;
// Lines may be added to an attachment's part header.
using TSmtpAttachHeader =
    std::function<void(rtl::TObject* Sender, int32_t FileNumber, const std::string& FileName,
                       rtl::TStringList& HdrLines)>;
using TSmtpBeforeFileOpenEvent =
    std::function<void(rtl::TObject* Sender, int32_t Idx, const std::string& FileName,
                       TSmtpBeforeOpenFileAction& Action)>;
// E is the failure of the opening, or null when the file opened.
using TSmtpAfterFileOpenEvent =
    std::function<void(rtl::TObject* Sender, int32_t Idx, const std::string& FileName,
                       const rtl::Exception* E, TSmtpAfterOpenFileAction& Action)>;
