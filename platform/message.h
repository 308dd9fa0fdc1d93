// The one way the program shows a message to the user: a modal box with text, caption, icon and
// owner. The console service writes "Caption: text" to stderr; the desktop program installs a
// service that shows message boxes; tests install a capture. Only the desktop program and the
// command line show messages; the layers below them return outcomes (platform/outcome.h).
#pragma once

#include <mutex>
#include <string>
#include <string_view>
#include <vector>

#include "platform/outcome.h"

namespace zuba {

class MessageService {
 public:
  virtual ~MessageService() = default;
  // Shows the message and returns when the user has acknowledged it. May be called from any thread.
  virtual void show(const Message& message) = 0;
};

// Shows a message through the installed service (the console service when none is installed).
void ShowMessage(std::string_view text, std::string_view caption, Icon icon = Icon::Error,
                 Owner owner = Owner::None);

// Shows an already formed message through the installed service.
void ShowMessage(const Message& message);

// Shows the failure's message unless the failure is quiet.
void ShowFailure(const Failure& failure);

// Shows the messages of the failures in order (ShowFailure each).
void ShowFailures(const std::vector<Failure>& failures);

// The flag an operation gave before outcomes: 1 for success, 0 for failure, whose message is shown
// as ShowFailure shows it.
int ShowOutcome(const Outcome& outcome);

// Shows "<functionName> has failed with error code: <code>" (caption "Error", error icon, no
// owner), the code being the calling thread's last system error (errno). A null name counts as
// empty.
void ReportSystemError(const char* functionName);

// Installs a service for the whole process and returns the previous one; nullptr restores the
// console service. The caller keeps ownership and must keep it alive while installed.
MessageService* SetMessageService(MessageService* service);

// Writes "Caption: text" on one line to stderr.
class ConsoleMessageService : public MessageService {
 public:
  void show(const Message& message) override;
};

// Records every message instead of showing it; installs itself for its lifetime (tests).
class MessageCapture : public MessageService {
 public:
  MessageCapture();
  ~MessageCapture() override;
  MessageCapture(const MessageCapture&) = delete;
  MessageCapture& operator=(const MessageCapture&) = delete;

  void show(const Message& message) override;
  std::vector<Message> messages() const;
  // The texts alone, in order.
  std::vector<std::string> texts() const;
  void clear();

 private:
  mutable std::mutex mutex_;
  std::vector<Message> messages_;
  MessageService* previous_ = nullptr;
};

}  // namespace zuba
