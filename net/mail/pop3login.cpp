// High-level requests: one request made of several steps (Login: connect, USER, PASS), each a
// request of its own whose end leads to the next step. The first failure ends the chain, keeping
// only a QUIT step when the session is still open; an abort ends it with 426.
#include "net/mail/pop3cli.h"

namespace net::mail {

void TCustomPop3Cli::Login() {
  HighLevelAsync(rqLogin,
                 Pop3Step(pop3StepConnect) | Pop3Step(pop3StepUser) | Pop3Step(pop3StepPass));
}

void TCustomPop3Cli::HighLevelAsync(TPop3Request rq, TPop3StepSet steps) {
  if (connected_ && (steps & Pop3Step(pop3StepConnect)))
    throw Pop3Exception(kPop3ChainAlreadyConnected);
  CheckReady();
  requestType_ = rq;
  requestResult_ = 0;
  steps_ = steps;
  currentStep_ = pop3StepConnect;
  highLevelResult_ = 0;
  highLevel_ = true;
  lastResponse_.clear();
  errorMessage_.clear();
  OpenRequest();
  chainRunning_ = true;
  NextStep();
}

// Runs the next step, or ends the chain. A step that raises fails the chain with 500 and the
// exception's text, like a refused step.
void TCustomPop3Cli::NextStep() {
  for (;;) {
    if (state_ == psAborting) {
      steps_ = 0;
      highLevelResult_ = kPop3AbortedCode;
      errorMessage_ = kPop3Aborted;
    } else if (requestResult_ != 0) {
      highLevelResult_ = requestResult_;
      const bool keepQuit =
          (steps_ & Pop3Step(pop3StepQuit)) && currentStep_ != pop3StepQuit && connected_;
      steps_ = keepQuit ? Pop3Step(pop3StepQuit) : 0;
    }
    const TPop3Step* step = nullptr;
    for (const TPop3Step& s : kPop3StepOrder) {
      if (steps_ & Pop3Step(s)) {
        step = &s;
        break;
      }
    }
    if (!step) {
      chainRunning_ = false;
      requestDone_ = false;
      if (highLevelResult_ != 0) requestResult_ = highLevelResult_;
      NotifyRequestDone(highLevelResult_);
      return;
    }
    steps_ = static_cast<TPop3StepSet>(steps_ & ~Pop3Step(*step));
    currentStep_ = *step;
    std::string text;
    try {
      RunStep(*step);
      return;  // its end comes back here
    } catch (const std::exception& e) {
      text = e.what();
    }
    if (!requestOpen_ || !chainRunning_) return;  // ended while the step started
    if (errorMessage_.empty()) errorMessage_ = text;
    requestResult_ = kPop3Refused;
    statusCode_ = kPop3Refused;
    if (state_ != psAborting) SetState(psBetweenSteps);
  }
}

void TCustomPop3Cli::RunStep(TPop3Step step) {
  switch (step) {
    case pop3StepConnect:
      return Connect();
    case pop3StepUser:
      return User();
    case pop3StepPass:
      return Pass();
    case pop3StepRpop:
      return RPop();
    case pop3StepQuit:
      return Quit();
    case pop3StepApop:
      return APop();
    case pop3StepStat:
      return Stat();
    case pop3StepList:
      return List();
    case pop3StepUidl:
      return Uidl();
    case pop3StepRetr:
      return Retr();
    case pop3StepTop:
      return Top();
    case pop3StepDele:
      return Dele();
    case pop3StepNoop:
      return Noop();
    case pop3StepRset:
      return RSet();
    case pop3StepLast:
      return Last();
  }
}

}  // namespace net::mail
