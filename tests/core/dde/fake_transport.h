#pragma once
// A transport that records what the DDE server sends, for the protocol tests.

#include <cstdint>
#include <string>
#include <vector>

#include "core/dde/dde_server.h"

namespace kelvor::dde {

struct FakeTransport : DdeTransport {
  struct Reply {
    ReplyToken token;
    enum Kind { Empty, Conversation, Data, Error } kind;
    ConversationId conversation = 0;
    std::string block;
    DdeError error = DdeError::Negative;
  };
  struct DataMessage {
    std::string client;
    ConversationId conversation;
    std::string item;
    std::uint32_t format;
    std::string block;
    bool ackRequested = false;
  };

  void replyEmpty(ReplyToken token) override { replies.push_back({token, Reply::Empty, 0, {}, {}}); }
  void replyConversation(ReplyToken token, ConversationId c) override {
    replies.push_back({token, Reply::Conversation, c, {}, {}});
  }
  void replyData(ReplyToken token, const std::string& block) override {
    replies.push_back({token, Reply::Data, 0, block, {}});
  }
  void replyError(ReplyToken token, DdeError error, const std::string&) override {
    replies.push_back({token, Reply::Error, 0, {}, error});
  }
  void sendData(const std::string& client, ConversationId c, const std::string& item, std::uint32_t format,
                const std::string& block, bool ackRequested) override {
    data.push_back({client, c, item, format, block, ackRequested});
  }

  // The reply given to `token`; a test fails when there is none or more than one.
  const Reply* replyTo(ReplyToken token) const {
    const Reply* found = nullptr;
    for (const auto& r : replies) {
      if (r.token == token) {
        if (found) return nullptr;
        found = &r;
      }
    }
    return found;
  }

  std::vector<Reply> replies;
  std::vector<DataMessage> data;
};

}  // namespace kelvor::dde
