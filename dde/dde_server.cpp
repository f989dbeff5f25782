#include "dde/dde_server.h"

#include <utility>

#include "toolkit/text.h"

namespace kelvor::dde {
namespace {

bool sameName(std::string_view a, std::string_view b) { return upperAscii(a) == upperAscii(b); }

// A null name (the empty text) matches any; otherwise the names compare like atoms.
bool nullOrSame(std::string_view asked, std::string_view ours) {
  return asked.empty() || sameName(asked, ours);
}

bool isAdvise(DdeServer::EntryKind kind) { return kind != DdeServer::EntryKind::PendingRequest; }

}  // namespace

const char* errorName(DdeError error) {
  switch (error) {
    case DdeError::NoAnswer: return "dde.Error.NoAnswer";
    case DdeError::Negative: return "dde.Error.Negative";
    case DdeError::UnknownConversation: return "dde.Error.UnknownConversation";
    case DdeError::Terminated: return "dde.Error.Terminated";
  }
  return "dde.Error.Negative";
}

std::string textBlock(std::string_view text) {
  std::string block(text.substr(0, text.find('\0')));
  block.push_back('\0');
  return block;
}

DdeServer::DdeServer(std::string service, std::string topic, DdeTransport& transport, DdeEvents& events,
                     std::function<std::int64_t()> clockMs)
    : service_(std::move(service)),
      topic_(std::move(topic)),
      transport_(transport),
      events_(events),
      clockMs_(std::move(clockMs)) {}

void DdeServer::handleInitiate(ReplyToken token, const std::string& client, const std::string& application,
                               const std::string& topic) {
  if (application.size() > kMaxNameLength || topic.size() > kMaxNameLength ||
      !nullOrSame(application, service_) || !nullOrSame(topic, topic_)) {
    transport_.replyError(token, DdeError::NoAnswer, "No DDE server answers to these names");
    return;
  }
  std::size_t clientConversations = 0;
  for (const auto& [id, c] : conversations_) clientConversations += c.client == client ? 1 : 0;
  if (conversations_.size() >= kMaxConversations || clientConversations >= kMaxConversationsPerClient) {
    transport_.replyError(token, DdeError::NoAnswer, "The DDE server holds too many conversations");
    return;
  }
  while (nextId_ == 0 || conversations_.count(nextId_)) ++nextId_;
  const ConversationId id = nextId_++;
  conversations_.emplace(id, Conversation{id, client, {}});
  transport_.replyConversation(token, id);
}

DdeServer::Conversation* DdeServer::find(ReplyToken token, const std::string& client, ConversationId id) {
  auto it = conversations_.find(id);
  // Another client's conversation is as unknown to this caller as one that never existed.
  if (it == conversations_.end() || it->second.client != client) {
    transport_.replyError(token, DdeError::UnknownConversation,
                          "No conversation " + std::to_string(id) + " is open for this client");
    return nullptr;
  }
  return &it->second;
}

void DdeServer::handleRequest(ReplyToken token, const std::string& client, ConversationId conversation,
                              const std::string& item, std::uint32_t format) {
  Conversation* c = find(token, client, conversation);
  if (!c) return;
  if (format != kFormatText && format != 0) {
    transport_.replyError(token, DdeError::Negative, "Only CF_TEXT (format 1) is served");
    return;
  }
  if (item.size() > kMaxNameLength) {
    transport_.replyError(token, DdeError::Negative, "The item name is longer than 255 characters");
    return;
  }
  auto link = links_.find(upperAscii(item));
  if (link != links_.end()) {
    transport_.replyData(token, textBlock(link->second.value()));
    return;
  }
  if (c->entries.size() >= kMaxEntriesPerConversation) {
    transport_.replyError(token, DdeError::Negative, "Too many requests and advises in this conversation");
    return;
  }
  c->entries.push_back(Entry{item, EntryKind::PendingRequest, token});
  events_.requestPending();
}

void DdeServer::handleAdvise(ReplyToken token, const std::string& client, ConversationId conversation,
                             const std::string& item, std::uint32_t format, bool deferUpdate) {
  Conversation* c = find(token, client, conversation);
  if (!c) return;
  if (format != kFormatText) {
    transport_.replyError(token, DdeError::Negative, "Only CF_TEXT (format 1) is served");
    return;
  }
  if (item.size() > kMaxNameLength) {
    transport_.replyError(token, DdeError::Negative, "The item name is longer than 255 characters");
    return;
  }
  if (c->entries.size() >= kMaxEntriesPerConversation) {
    transport_.replyError(token, DdeError::Negative, "Too many requests and advises in this conversation");
    return;
  }
  c->entries.push_back(Entry{item, deferUpdate ? EntryKind::WarmAdvise : EntryKind::HotAdvise, 0});
  auto entry = std::prev(c->entries.end());
  // The acknowledgement goes first: the advise handler may wait for a person.
  transport_.replyEmpty(token);
  auto link = links_.find(upperAscii(item));
  if (link != links_.end()) {
    deliver(*c, entry, link->second.value());
  } else {
    events_.adviseWithoutLink();
  }
}

void DdeServer::handleUnadvise(ReplyToken token, const std::string& client, ConversationId conversation,
                               const std::string& item, std::uint32_t format) {
  Conversation* c = find(token, client, conversation);
  if (!c) return;
  std::size_t removed = 0;
  if (format == 0 || format == kFormatText) {
    removed = c->entries.remove_if([&](const Entry& e) {
      return isAdvise(e.kind) && (item.empty() || sameName(e.item, item));
    });
  }
  if (removed > 0) {
    transport_.replyEmpty(token);
  } else {
    transport_.replyError(token, DdeError::Negative, "No advise was removed");
  }
}

void DdeServer::handleExecute(ReplyToken token, const std::string& client, ConversationId conversation,
                              const std::string& command) {
  if (!find(token, client, conversation)) return;
  // Acknowledged when taken up: a command may wait for a person for minutes.
  transport_.replyEmpty(token);
  events_.execute(command);
}

void DdeServer::handlePoke(ReplyToken token, const std::string& client, ConversationId conversation) {
  if (!find(token, client, conversation)) return;
  transport_.replyEmpty(token);
}

void DdeServer::handleTerminate(ReplyToken token, const std::string& client, ConversationId conversation) {
  if (!find(token, client, conversation)) return;
  endConversation(conversations_.find(conversation), "The conversation was terminated");
  transport_.replyEmpty(token);
}

void DdeServer::clientLeft(const std::string& client) {
  for (auto it = conversations_.begin(); it != conversations_.end();) {
    auto next = std::next(it);
    if (it->second.client == client) endConversation(it, "The client left the bus");
    it = next;
  }
}

void DdeServer::endConversation(std::map<ConversationId, Conversation>::iterator it, const char* why) {
  for (const Entry& e : it->second.entries) {
    if (e.kind == EntryKind::PendingRequest) transport_.replyError(e.token, DdeError::Terminated, why);
  }
  conversations_.erase(it);
}

void DdeServer::deliver(Conversation& conversation, std::list<Entry>::iterator entry, const std::string& value) {
  switch (entry->kind) {
    case EntryKind::PendingRequest:
      transport_.replyData(entry->token, textBlock(value));
      conversation.entries.erase(entry);
      break;
    case EntryKind::HotAdvise:
      transport_.sendData(conversation.client, conversation.id, entry->item, kFormatText, textBlock(value));
      break;
    case EntryKind::WarmAdvise:
      transport_.sendData(conversation.client, conversation.id, entry->item, kFormatText, std::string());
      break;
  }
}

void DdeServer::sendToAll(const std::string& itemKey, const std::string& value) {
  for (auto& [id, conversation] : conversations_) {
    for (auto e = conversation.entries.begin(); e != conversation.entries.end();) {
      auto next = std::next(e);
      if (upperAscii(e->item) == itemKey) deliver(conversation, e, value);
      e = next;
    }
  }
}

void DdeServer::write(int mode, const std::string& item, BoundValue value) {
  const std::string key = upperAscii(item);
  links_.erase(key);
  const std::string current = value();
  if (mode < 0) {
    // Once, to one entry: the newest entry for the item in the newest conversation having one.
    for (auto c = conversations_.rbegin(); c != conversations_.rend(); ++c) {
      auto& entries = c->second.entries;
      for (auto e = entries.rbegin(); e != entries.rend(); ++e) {
        if (upperAscii(e->item) == key) {
          deliver(c->second, std::prev(e.base()), current);
          return;
        }
      }
    }
    return;
  }
  links_[key] = Link{mode, std::move(value), current, clockMs_()};
  sendToAll(key, current);
}

void DdeServer::checkLinks() {
  const std::int64_t now = clockMs_();
  for (auto& [key, link] : links_) {
    if (link.mode > 0 && now - link.lastLookMs <= static_cast<std::int64_t>(link.mode) * 1000) continue;
    link.lastLookMs = now;
    std::string current = link.value();
    if (current == link.lastSent) continue;
    link.lastSent = current;
    sendToAll(key, current);
  }
}

void DdeServer::close() {
  while (!conversations_.empty()) endConversation(conversations_.begin(), "The DDE server closed");
  links_.clear();
}

std::size_t DdeServer::entryCount(ConversationId conversation) const {
  auto it = conversations_.find(conversation);
  return it == conversations_.end() ? 0 : it->second.entries.size();
}

bool DdeServer::hasLink(const std::string& item) const { return links_.count(upperAscii(item)) > 0; }

bool DdeServer::hasConversationsOf(const std::string& client) const {
  for (const auto& [id, c] : conversations_) {
    if (c.client == client) return true;
  }
  return false;
}

}  // namespace kelvor::dde
