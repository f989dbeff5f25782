#include "core/dde/dde_server.h"

#include <utility>
#include <vector>

#include "core/toolkit/text.h"

namespace kelvor::dde {
namespace {

bool sameName(std::string_view a, std::string_view b) { return upperAscii(a) == upperAscii(b); }

// A null name (the empty text) matches any; otherwise the names compare like atoms.
bool nullOrSame(std::string_view asked, std::string_view ours) {
  return asked.empty() || sameName(asked, ours);
}

}  // namespace

const char* errorName(DdeError error) {
  switch (error) {
    case DdeError::NoAnswer: return "dde.Error.NoAnswer";
    case DdeError::Negative: return "dde.Error.Negative";
    case DdeError::UnknownConversation: return "dde.Error.UnknownConversation";
    case DdeError::Terminated: return "dde.Error.Terminated";
    case DdeError::Busy: return "dde.Error.Busy";
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

std::optional<Refusal> DdeServer::refusal(Method method, const std::string& client, ConversationId conversation,
                                          std::string_view item, std::string_view topic,
                                          std::uint32_t format) const {
  if (method == Method::Initiate) {
    if (item.size() > kMaxNameLength || topic.size() > kMaxNameLength || !nullOrSame(item, service_) ||
        !nullOrSame(topic, topic_)) {
      return Refusal{DdeError::NoAnswer, "No DDE server answers to these names"};
    }
    return std::nullopt;
  }
  auto it = conversations_.find(conversation);
  // Another client's conversation is as unknown to this caller as one that never existed.
  if (it == conversations_.end() || it->second.client != client) {
    return Refusal{DdeError::UnknownConversation,
                   "No conversation " + std::to_string(conversation) + " is open for this client"};
  }
  if (method == Method::Request || method == Method::Advise) {
    // A request may also name format 0; an advise must name CF_TEXT.
    if (format != kFormatText && (method == Method::Advise || format != 0)) {
      return Refusal{DdeError::Negative, "Only CF_TEXT (format 1) is served"};
    }
    if (item.size() > kMaxNameLength) {
      return Refusal{DdeError::Negative, "The item name is longer than 255 characters"};
    }
  }
  return std::nullopt;
}

bool DdeServer::refuse(ReplyToken token, Method method, const std::string& client, ConversationId conversation,
                       std::string_view item, std::string_view topic, std::uint32_t format) {
  auto refused = refusal(method, client, conversation, item, topic, format);
  if (!refused) return false;
  transport_.replyError(token, refused->error, refused->message);
  return true;
}

void DdeServer::handleInitiate(ReplyToken token, const std::string& client, const std::string& application,
                               const std::string& topic) {
  if (refuse(token, Method::Initiate, client, 0, application, topic, 0)) return;
  auto share = clients_.find(client);
  const std::size_t clientConversations = share == clients_.end() ? 0 : share->second.conversations.size();
  if (conversations_.size() >= kMaxConversations || clientConversations >= kMaxConversationsPerClient) {
    transport_.replyError(token, DdeError::NoAnswer, "The DDE server holds too many conversations");
    return;
  }
  while (nextId_ == 0 || conversations_.count(nextId_)) ++nextId_;
  const ConversationId id = nextId_++;
  conversations_.emplace(id, Conversation{id, client, {}, {}});
  clients_[client].conversations.insert(id);
  transport_.replyConversation(token, id);
}

void DdeServer::handleRequest(ReplyToken token, const std::string& client, ConversationId conversation,
                              const std::string& item, std::uint32_t format) {
  if (refuse(token, Method::Request, client, conversation, item, {}, format)) return;
  auto link = links_.find(upperAscii(item));
  if (link != links_.end()) {
    transport_.replyData(token, textBlock(link->second.value()));
    return;
  }
  if (clients_[client].requests >= kMaxPendingRequestsPerClient || requestCount_ >= kMaxPendingRequests) {
    transport_.replyError(token, DdeError::Busy, "Too many requests are waiting for an answer; try again later");
    return;
  }
  addEntry(conversations_.at(conversation), item, EntryKind::PendingRequest, token);
  events_.requestPending();
}

void DdeServer::handleAdvise(ReplyToken token, const std::string& client, ConversationId conversation,
                             const std::string& item, std::uint32_t format, bool deferUpdate) {
  if (refuse(token, Method::Advise, client, conversation, item, {}, format)) return;
  if (clients_[client].advises >= kMaxAdvisesPerClient || adviseCount_ >= kMaxAdvises) {
    transport_.replyError(token, DdeError::Busy, "Too many advise links are open; end some first");
    return;
  }
  const EntryNumber entry = addEntry(conversations_.at(conversation), item,
                                     deferUpdate ? EntryKind::WarmAdvise : EntryKind::HotAdvise, 0);
  // The acknowledgement goes first: the advise handler may wait for a person.
  transport_.replyEmpty(token);
  auto link = links_.find(upperAscii(item));
  if (link != links_.end()) {
    deliver(entry, link->second.value());
  } else {
    events_.adviseWithoutLink(item);
  }
}

void DdeServer::handleUnadvise(ReplyToken token, const std::string& client, ConversationId conversation,
                               const std::string& item, std::uint32_t format) {
  if (refuse(token, Method::Unadvise, client, conversation, item, {}, format)) return;
  std::vector<EntryNumber> removed;
  if (format == 0 || format == kFormatText) {
    for (EntryNumber number : conversations_.at(conversation).advises) {
      if (item.empty() || sameName(entries_.at(number).item, item)) removed.push_back(number);
    }
  }
  for (EntryNumber number : removed) removeEntry(number);
  if (!removed.empty()) {
    transport_.replyEmpty(token);
  } else {
    transport_.replyError(token, DdeError::Negative, "No advise was removed");
  }
}

void DdeServer::handleExecute(ReplyToken token, const std::string& client, ConversationId conversation,
                              const std::string& command) {
  if (refuse(token, Method::Execute, client, conversation, {}, {}, 0)) return;
  bool acknowledged = false;
  auto acknowledge = [&] {
    if (acknowledged) return;
    acknowledged = true;
    transport_.replyEmpty(token);
  };
  if (!events_.execute(command, acknowledge) && !acknowledged) {
    transport_.replyError(token, DdeError::Busy, "Kelvor holds as much text waiting to be sent as it keeps; try again later");
    return;
  }
  acknowledge();
}

void DdeServer::handlePoke(ReplyToken token, const std::string& client, ConversationId conversation) {
  if (refuse(token, Method::Poke, client, conversation, {}, {}, 0)) return;
  transport_.replyEmpty(token);
}

void DdeServer::handleTerminate(ReplyToken token, const std::string& client, ConversationId conversation) {
  if (refuse(token, Method::Terminate, client, conversation, {}, {}, 0)) return;
  endConversation(conversation, "The conversation was terminated");
  transport_.replyEmpty(token);
}

void DdeServer::clientLeft(const std::string& client) {
  auto share = clients_.find(client);
  if (share == clients_.end()) return;
  const std::vector<ConversationId> ids(share->second.conversations.begin(), share->second.conversations.end());
  for (ConversationId id : ids) endConversation(id, "The client left the bus");
}

DdeServer::EntryNumber DdeServer::addEntry(Conversation& conversation, const std::string& item, EntryKind kind,
                                           ReplyToken token) {
  const EntryNumber number = nextEntry_++;
  std::string key = upperAscii(item);
  byItem_[key].emplace(conversation.id, number);
  ClientShare& share = clients_[conversation.client];
  if (kind == EntryKind::PendingRequest) {
    conversation.requests.insert(number);
    ++share.requests;
    ++requestCount_;
  } else {
    conversation.advises.insert(number);
    ++share.advises;
    ++adviseCount_;
  }
  entries_.emplace(number, Entry{conversation.id, item, std::move(key), kind, token});
  return number;
}

void DdeServer::removeEntry(EntryNumber number) {
  auto it = entries_.find(number);
  if (it == entries_.end()) return;
  const Entry& entry = it->second;
  auto items = byItem_.find(entry.key);
  items->second.erase({entry.conversation, number});
  if (items->second.empty()) byItem_.erase(items);
  Conversation& conversation = conversations_.at(entry.conversation);
  ClientShare& share = clients_.at(conversation.client);
  if (entry.kind == EntryKind::PendingRequest) {
    conversation.requests.erase(number);
    --share.requests;
    --requestCount_;
  } else {
    conversation.advises.erase(number);
    --share.advises;
    --adviseCount_;
  }
  entries_.erase(it);
}

void DdeServer::endConversation(ConversationId id, const char* why) {
  auto it = conversations_.find(id);
  if (it == conversations_.end()) return;
  Conversation& conversation = it->second;
  std::vector<EntryNumber> numbers(conversation.requests.begin(), conversation.requests.end());
  for (EntryNumber number : numbers) transport_.replyError(entries_.at(number).token, DdeError::Terminated, why);
  numbers.insert(numbers.end(), conversation.advises.begin(), conversation.advises.end());
  for (EntryNumber number : numbers) removeEntry(number);
  auto share = clients_.find(conversation.client);
  share->second.conversations.erase(id);
  if (share->second.conversations.empty()) clients_.erase(share);
  conversations_.erase(it);
}

void DdeServer::deliver(EntryNumber number, const std::string& value) {
  auto it = entries_.find(number);
  if (it == entries_.end()) return;
  const Entry& entry = it->second;
  switch (entry.kind) {
    case EntryKind::PendingRequest:
      transport_.replyData(entry.token, textBlock(value));
      removeEntry(number);
      break;
    case EntryKind::HotAdvise:
      transport_.sendData(conversations_.at(entry.conversation).client, entry.conversation, entry.item, kFormatText,
                          textBlock(value));
      break;
    case EntryKind::WarmAdvise:
      transport_.sendData(conversations_.at(entry.conversation).client, entry.conversation, entry.item, kFormatText,
                          std::string());
      break;
  }
}

void DdeServer::sendToAll(const std::string& itemKey, const std::string& value, bool advisesOnly) {
  auto items = byItem_.find(itemKey);
  if (items == byItem_.end()) return;
  // Answered requests leave the index while it is walked: walk a copy of the numbers.
  std::vector<EntryNumber> numbers;
  numbers.reserve(items->second.size());
  for (const auto& [conversation, number] : items->second) {
    if (!advisesOnly || entries_.at(number).kind != EntryKind::PendingRequest) numbers.push_back(number);
  }
  for (EntryNumber number : numbers) deliver(number, value);
}

void DdeServer::send(const std::string& item, const std::string& value) { sendToAll(upperAscii(item), value, true); }

void DdeServer::answerRequest(const std::string& item, const std::string& value) {
  auto items = byItem_.find(upperAscii(item));
  if (items == byItem_.end()) return;
  for (auto it = items->second.rbegin(); it != items->second.rend(); ++it) {
    if (entries_.at(it->second).kind == EntryKind::PendingRequest) {
      deliver(it->second, value);
      return;
    }
  }
}

void DdeServer::write(int mode, const std::string& item, BoundValue value) {
  const std::string key = upperAscii(item);
  links_.erase(key);
  const std::string current = value();
  if (mode < 0) {
    // Once, to one entry: the newest entry for the item in the newest conversation having one.
    auto items = byItem_.find(key);
    if (items != byItem_.end() && !items->second.empty()) deliver(items->second.rbegin()->second, current);
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
  while (!conversations_.empty()) endConversation(conversations_.begin()->first, "The DDE server closed");
  links_.clear();
}

std::size_t DdeServer::entryCount(ConversationId conversation) const {
  auto it = conversations_.find(conversation);
  return it == conversations_.end() ? 0 : it->second.advises.size() + it->second.requests.size();
}

bool DdeServer::hasLink(const std::string& item) const { return links_.count(upperAscii(item)) > 0; }

}  // namespace kelvor::dde
