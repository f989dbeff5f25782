#include "core/dde/dde_server.h"

#include <algorithm>
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
  // A client holding nothing pending always gets one request in, so that clients that fill
  // the bound in all do not lock everyone else out; there are no more such requests than
  // conversations.
  const std::size_t mine = clients_[client].requests;
  if (mine >= kMaxPendingRequestsPerClient || (mine > 0 && requestCount_ >= kMaxPendingRequests)) {
    transport_.replyError(token, DdeError::Busy, "Too many requests are waiting for an answer; try again later");
    return;
  }
  addEntry(conversations_.at(conversation), item, EntryKind::PendingRequest, token);
  events_.requestPending();
}

void DdeServer::handleAdvise(ReplyToken token, const std::string& client, ConversationId conversation,
                             const std::string& item, std::uint32_t format, bool deferUpdate, bool ackRequired) {
  if (refuse(token, Method::Advise, client, conversation, item, {}, format)) return;
  if (clients_[client].advises >= kMaxAdvisesPerClient || adviseCount_ >= kMaxAdvises) {
    transport_.replyError(token, DdeError::Busy, "Too many advise links are open; end some first");
    return;
  }
  const EntryNumber entry = addEntry(conversations_.at(conversation), item,
                                     deferUpdate ? EntryKind::WarmAdvise : EntryKind::HotAdvise, 0);
  entries_.at(entry).ackRequired = ackRequired && !deferUpdate;
  // The acknowledgement goes first: the advise handler may wait for a person.
  transport_.replyEmpty(token);
  auto link = links_.find(upperAscii(item));
  if (link != links_.end()) {
    const std::string current = link->second.value();
    entries_.at(entry).lastGiven = current;
    deliver(entry, current);
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

void DdeServer::handleDataAck(const std::string& client, ConversationId conversation, const std::string& item) {
  auto it = conversations_.find(conversation);
  if (it == conversations_.end() || it->second.client != client) return;
  const std::string key = upperAscii(item);
  // Each link has at most one message outstanding, and a client acknowledges in the order it
  // was sent: the oldest outstanding for the item is the one acknowledged.
  Entry* acknowledged = nullptr;
  for (EntryNumber number : it->second.advises) {
    Entry& entry = entries_.at(number);
    if (entry.awaitedSend == 0 || entry.key != key) continue;
    if (!acknowledged || entry.awaitedSend < acknowledged->awaitedSend) acknowledged = &entry;
  }
  if (!acknowledged) return;
  acknowledged->awaitedSend = 0;
  if (acknowledged->held.empty()) return;
  const std::string next = std::move(acknowledged->held.front());
  acknowledged->held.pop_front();
  sendNow(*acknowledged, next);
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
  Entry entry;
  entry.conversation = conversation.id;
  entry.item = item;
  entry.key = std::move(key);
  entry.kind = kind;
  entry.token = token;
  entries_.emplace(number, std::move(entry));
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
  // A flood's index would keep its buckets for good.
  if (entries_.empty()) entries_.rehash(0);
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

void DdeServer::deliver(EntryNumber number, const std::string& value, Keep keep) {
  auto it = entries_.find(number);
  if (it == entries_.end()) return;
  Entry& entry = it->second;
  if (entry.kind == EntryKind::PendingRequest) {
    transport_.replyData(entry.token, textBlock(value));
    removeEntry(number);
    return;
  }
  if (entry.awaitedSend == 0) {
    sendNow(entry, value);
    return;
  }
  if (keep == Keep::Newest) entry.held.clear();
  entry.held.push_back(value);
  if (entry.held.size() <= kMaxHeldReadings) return;
  entry.held.pop_front();
  if (entry.toldDropped) return;
  entry.toldDropped = true;
  events_.readingsDropped(conversations_.at(entry.conversation).client, entry.item);
}

void DdeServer::sendNow(Entry& entry, const std::string& value) {
  const std::string& client = conversations_.at(entry.conversation).client;
  if (entry.kind == EntryKind::WarmAdvise) {
    transport_.sendData(client, entry.conversation, entry.item, kFormatText, std::string(), false);
    return;
  }
  if (entry.ackRequired) entry.awaitedSend = nextSend_++;
  transport_.sendData(client, entry.conversation, entry.item, kFormatText, textBlock(value), entry.ackRequired);
}

std::vector<DdeServer::EntryNumber> DdeServer::requestsFor(const std::string& itemKey) const {
  std::vector<EntryNumber> numbers;
  auto items = byItem_.find(itemKey);
  if (items == byItem_.end()) return numbers;
  for (const auto& [conversation, number] : items->second) {
    if (entries_.at(number).kind == EntryKind::PendingRequest) numbers.push_back(number);
  }
  // Entries are numbered as they come: the oldest request is answered first.
  std::sort(numbers.begin(), numbers.end());
  return numbers;
}

std::vector<DdeServer::EntryNumber> DdeServer::advisesFor(const std::string& itemKey) const {
  std::vector<EntryNumber> numbers;
  auto items = byItem_.find(itemKey);
  if (items == byItem_.end()) return numbers;
  for (const auto& [conversation, number] : items->second) {
    if (entries_.at(number).kind != EntryKind::PendingRequest) numbers.push_back(number);
  }
  return numbers;
}

void DdeServer::sendLinkValue(const std::string& itemKey, const std::string& value) {
  for (EntryNumber number : requestsFor(itemKey)) deliver(number, value);
  for (EntryNumber number : advisesFor(itemKey)) {
    Entry& entry = entries_.at(number);
    if (entry.lastGiven == value) continue;
    entry.lastGiven = value;
    deliver(number, value);
  }
}

void DdeServer::send(const std::string& item, const std::string& value) {
  for (EntryNumber number : advisesFor(upperAscii(item))) deliver(number, value, Keep::Every);
}

void DdeServer::answerRequests(const std::string& item, const std::string& value) {
  for (EntryNumber number : requestsFor(upperAscii(item))) deliver(number, value);
}

void DdeServer::write(int mode, const std::string& item, BoundValue value) {
  const std::string key = upperAscii(item);
  links_.erase(key);
  const std::string current = value();
  if (mode < 0) {
    // Every waiting request gets the answer; an advise gets a copy and never takes it.
    answerRequests(key, current);
    for (EntryNumber number : advisesFor(key)) deliver(number, current);
    return;
  }
  links_[key] = Link{mode, std::move(value), current, clockMs_()};
  sendLinkValue(key, current);
}

void DdeServer::checkLinks() {
  const std::int64_t now = clockMs_();
  for (auto& [key, link] : links_) {
    if (link.mode > 0 && now - link.lastLookMs <= static_cast<std::int64_t>(link.mode) * 1000) continue;
    link.lastLookMs = now;
    std::string current = link.value();
    if (current == link.lastSent) continue;
    link.lastSent = current;
    sendLinkValue(key, current);
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
