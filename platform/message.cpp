// Message service registry and the console and capturing services.
#include "platform/message.h"

#include <atomic>
#include <charconv>
#include <cstdio>
#include <utility>

#include "platform/files.h"

namespace zuba {
namespace {

ConsoleMessageService& Console() {
  static ConsoleMessageService console;
  return console;
}

std::atomic<MessageService*>& Installed() {
  static std::atomic<MessageService*> installed{nullptr};
  return installed;
}

}  // namespace

void ShowMessage(std::string_view text, std::string_view caption, Icon icon, Owner owner) {
  ShowMessage(Message{std::string(text), std::string(caption), icon, owner});
}

void ShowMessage(const Message& message) {
  MessageService* service = Installed().load(std::memory_order_acquire);
  (service != nullptr ? *service : static_cast<MessageService&>(Console())).show(message);
}

void ShowFailure(const Failure& failure) {
  if (!failure.quiet) ShowMessage(failure.message);
}

void ShowFailures(const std::vector<Failure>& failures) {
  for (const Failure& failure : failures) ShowFailure(failure);
}

int ShowOutcome(const Outcome& outcome) {
  if (outcome) return 1;
  ShowFailure(outcome.failure());
  return 0;
}

void ReportSystemError(const char* functionName) {
  const uint32_t code = LastSystemError();  // read first: nothing below may change it unseen
  char buffer[36];                          // any 32-bit code fits, so the conversion cannot fail
  auto end = std::to_chars(buffer, buffer + sizeof buffer, code).ptr;
  std::string text = functionName ? functionName : "";
  text += " has failed with error code: ";
  text.append(buffer, end);
  ShowMessage(text, "Error", Icon::Error, Owner::None);
}

MessageService* SetMessageService(MessageService* service) {
  return Installed().exchange(service, std::memory_order_acq_rel);
}

void ConsoleMessageService::show(const Message& message) {
  static std::mutex mutex;
  std::lock_guard lock(mutex);
  std::string line = message.caption + ": " + message.text + "\n";
  std::fwrite(line.data(), 1, line.size(), stderr);
  std::fflush(stderr);
}

MessageCapture::MessageCapture() : previous_(SetMessageService(this)) {}

MessageCapture::~MessageCapture() {
  SetMessageService(previous_);
}

void MessageCapture::show(const Message& message) {
  std::lock_guard lock(mutex_);
  messages_.push_back(message);
}

std::vector<Message> MessageCapture::messages() const {
  std::lock_guard lock(mutex_);
  return messages_;
}

std::vector<std::string> MessageCapture::texts() const {
  std::lock_guard lock(mutex_);
  std::vector<std::string> texts;
  for (const Message& m : messages_) texts.push_back(m.text);
  return texts;
}

void MessageCapture::clear() {
  std::lock_guard lock(mutex_);
  messages_.clear();
}

}  // namespace zuba
