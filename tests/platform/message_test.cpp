#include "platform/message.h"

#include <gtest/gtest.h>

#include <thread>

namespace zuba {
namespace {

TEST(MessageCapture, RecordsTextCaptionIconAndOwnerAndRestoresPreviousService) {
  MessageCapture outer;
  {
    MessageCapture inner;
    ShowMessage("Field Map Unit Error!", "Error", Icon::Error, Owner::View);
    ASSERT_EQ(inner.messages().size(), 1u);
    EXPECT_EQ(inner.messages()[0],
              (Message{"Field Map Unit Error!", "Error", Icon::Error, Owner::View}));
  }
  ShowMessage("after", "Message", Icon::Information);
  EXPECT_EQ(outer.texts(), std::vector<std::string>{"after"});
}

TEST(MessageCapture, CollectsMessagesFromSeveralThreads) {
  MessageCapture capture;
  std::vector<std::thread> threads;
  for (int t = 0; t < 4; ++t)
    threads.emplace_back([] {
      for (int i = 0; i < 100; ++i) ShowMessage("x", "Error");
    });
  for (auto& t : threads) t.join();
  EXPECT_EQ(capture.messages().size(), 400u);
}

TEST(ConsoleMessageService, WritesCaptionColonTextLine) {
  testing::internal::CaptureStderr();
  ConsoleMessageService().show({"Can not Open File!", "Error", Icon::Error, Owner::None});
  EXPECT_EQ(testing::internal::GetCapturedStderr(), "Error: Can not Open File!\n");
}

}  // namespace
}  // namespace zuba
