#include "linux/portal_keyboard.h"

#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusObjectPath>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>
#include <QObject>
#include <QVariantMap>
#include <cstdio>

#include "linux/keysym_text.h"
#include "core/settings/profile_file.h"

namespace kelvor {
namespace {

const QString kService = QStringLiteral("org.freedesktop.portal.Desktop");
const QString kObject = QStringLiteral("/org/freedesktop/portal/desktop");
const QString kRemoteDesktop = QStringLiteral("org.freedesktop.portal.RemoteDesktop");
const QString kRequest = QStringLiteral("org.freedesktop.portal.Request");
const QString kSession = QStringLiteral("org.freedesktop.portal.Session");

// The session handle comes as a string from most portals, as an object path from some.
QString pathOf(const QVariant& value) {
  if (value.canConvert<QDBusObjectPath>() && value.userType() == qMetaTypeId<QDBusObjectPath>())
    return value.value<QDBusObjectPath>().path();
  return value.toString();
}

constexpr uint kDeviceKeyboard = 1;
constexpr uint kPersistUntilRevoked = 2;
constexpr uint kResponseSuccess = 0;

class PortalKeyboard final : public QObject, public KeyboardSynth {
  Q_OBJECT

 public:
  explicit PortalKeyboard(std::string iniFilePath) : iniFilePath_(std::move(iniFilePath)), bus_(QDBusConnection::sessionBus()) {
    if (!bus_.isConnected()) {
      giveUp("There is no session bus to reach the desktop's remote-desktop portal.", false);
      return;
    }
    restoreToken_ = QString::fromStdString(readProfileString(iniFilePath_, "PORTAL", "RESTORETOKEN"));
    createSession();
  }

  ~PortalKeyboard() override {
    if (!sessionHandle_.isEmpty() && state_ != State::gone) {
      bus_.send(QDBusMessage::createMethodCall(kService, sessionHandle_, kSession, QStringLiteral("Close")));
    }
  }

  bool available() const override { return state_ != State::gone; }
  bool waiting() const override { return state_ == State::starting; }
  std::string name() const override {
    return state_ == State::starting ? "remote-desktop portal (waiting for the desktop's approval)"
                                     : "remote-desktop portal (all windows)";
  }
  std::string problem() const override { return problem_; }

  void typeText(std::string_view utf8) override {
    for (const std::uint32_t keysym : keysymsOf(utf8)) strike(keysym);
  }
  void pressRight() override { strike(kKeysymRight); }
  void pressLeft() override { strike(kKeysymLeft); }

 private slots:
  void onResponse(uint response, const QVariantMap& results) {
    bus_.disconnect(kService, requestPath_, kRequest, QStringLiteral("Response"), this,
                    SLOT(onResponse(uint, QVariantMap)));
    if (response != kResponseSuccess) {
      refused(step_ == Step::start);
      return;
    }
    switch (step_) {
      case Step::createSession:
        sessionHandle_ = pathOf(results.value(QStringLiteral("session_handle")));
        bus_.connect(kService, sessionHandle_, kSession, QStringLiteral("Closed"), this, SLOT(onSessionClosed()));
        selectDevices();
        break;
      case Step::selectDevices:
        start();
        break;
      case Step::start:
        started(results);
        break;
    }
  }

  void onSessionClosed() {
    giveUp("The desktop ended Kelvor's remote-desktop session, so readings are not typed any more.", true);
  }

 private:
  enum class State { starting, ready, gone };
  enum class Step { createSession, selectDevices, start };

  // The portal answers each step twice: the call's reply names a request object, and the
  // result comes as that object's Response signal. The signal is subscribed to before the
  // call, on the path the portal is bound to use, so that a quick answer is not missed.
  void ask(Step step, const QString& method, QList<QVariant> arguments, QVariantMap options) {
    step_ = step;
    const QString token = QStringLiteral("kelvor%1").arg(++tokens_);
    QString sender = bus_.baseService().mid(1);
    sender.replace(QLatin1Char('.'), QLatin1Char('_'));
    requestPath_ = QStringLiteral("/org/freedesktop/portal/desktop/request/%1/%2").arg(sender, token);
    bus_.connect(kService, requestPath_, kRequest, QStringLiteral("Response"), this, SLOT(onResponse(uint, QVariantMap)));

    options.insert(QStringLiteral("handle_token"), token);
    arguments.append(options);
    QDBusMessage call = QDBusMessage::createMethodCall(kService, kObject, kRemoteDesktop, method);
    call.setArguments(arguments);
    auto* watcher = new QDBusPendingCallWatcher(bus_.asyncCall(call, -1), this);
    connect(watcher, &QDBusPendingCallWatcher::finished, this, [this, predicted = requestPath_](QDBusPendingCallWatcher* w) {
      w->deleteLater();
      const QDBusPendingReply<QDBusObjectPath> reply = *w;
      if (reply.isError()) {
        giveUp("The desktop's remote-desktop portal is not there or does not answer (" +
                   reply.error().name().toStdString() + ").",
               true);
      } else if (requestPath_ == predicted && reply.value().path() != predicted) {
        // An older portal names the request its own way: its answer comes there. (When the
        // answer has already come and the next step begun, there is nothing to follow.)
        bus_.disconnect(kService, requestPath_, kRequest, QStringLiteral("Response"), this,
                        SLOT(onResponse(uint, QVariantMap)));
        requestPath_ = reply.value().path();
        bus_.connect(kService, requestPath_, kRequest, QStringLiteral("Response"), this,
                     SLOT(onResponse(uint, QVariantMap)));
      }
    });
  }

  void createSession() {
    ask(Step::createSession, QStringLiteral("CreateSession"), {},
        {{QStringLiteral("session_handle_token"), QStringLiteral("kelvor%1").arg(tokens_ + 1)}});
  }

  void selectDevices() {
    QVariantMap options{{QStringLiteral("types"), kDeviceKeyboard}, {QStringLiteral("persist_mode"), kPersistUntilRevoked}};
    offeredToken_ = !restoreToken_.isEmpty();
    if (offeredToken_) options.insert(QStringLiteral("restore_token"), restoreToken_);
    ask(Step::selectDevices, QStringLiteral("SelectDevices"), {QVariant::fromValue(QDBusObjectPath(sessionHandle_))},
        options);
  }

  void start() {
    ask(Step::start, QStringLiteral("Start"), {QVariant::fromValue(QDBusObjectPath(sessionHandle_)), QString()}, {});
  }

  void started(const QVariantMap& results) {
    const QString token = results.value(QStringLiteral("restore_token")).toString();
    if (!token.isEmpty() && token != restoreToken_) {
      restoreToken_ = token;
      writeProfileString(iniFilePath_, "PORTAL", "RESTORETOKEN", token.toStdString());
    }
    state_ = State::ready;
    std::fprintf(stderr, "kelvor: keystrokes: the desktop's remote-desktop portal approved typing\n");
    changed();
  }

  // A stored approval the desktop no longer honours is forgotten and the user asked once
  // more; a refusal of that question is final.
  void refused(bool atStart) {
    if (atStart && offeredToken_ && !askedAgain_) {
      askedAgain_ = true;
      restoreToken_.clear();
      writeProfileString(iniFilePath_, "PORTAL", "RESTORETOKEN", "");
      closeSession();
      createSession();
      return;
    }
    giveUp("The desktop did not allow Kelvor to type readings (the request for remote control was refused).", true);
  }

  void closeSession() {
    if (sessionHandle_.isEmpty()) return;
    bus_.disconnect(kService, sessionHandle_, kSession, QStringLiteral("Closed"), this, SLOT(onSessionClosed()));
    bus_.send(QDBusMessage::createMethodCall(kService, sessionHandle_, kSession, QStringLiteral("Close")));
    sessionHandle_.clear();
  }

  void strike(std::uint32_t keysym) {
    if (state_ != State::ready) return;
    for (const uint pressed : {1u, 0u}) {
      QDBusMessage call = QDBusMessage::createMethodCall(kService, kObject, kRemoteDesktop,
                                                        QStringLiteral("NotifyKeyboardKeysym"));
      call.setArguments({QVariant::fromValue(QDBusObjectPath(sessionHandle_)), QVariantMap(),
                         static_cast<int>(keysym), pressed});
      // Sent in order on one connection; no answer is awaited, so typing never waits.
      bus_.send(call);
    }
  }

  void giveUp(std::string why, bool tellHandler) {
    if (state_ == State::gone) return;
    state_ = State::gone;
    problem_ = std::move(why);
    if (tellHandler) changed();
  }

  std::string iniFilePath_;
  QDBusConnection bus_;
  State state_ = State::starting;
  Step step_ = Step::createSession;
  int tokens_ = 0;
  QString requestPath_;
  QString sessionHandle_;
  QString restoreToken_;
  bool offeredToken_ = false;
  bool askedAgain_ = false;
  std::string problem_;
};

}  // namespace

std::unique_ptr<KeyboardSynth> openPortalKeyboard(const std::string& iniFilePath) {
  return std::make_unique<PortalKeyboard>(iniFilePath);
}

}  // namespace kelvor

#include "portal_keyboard.moc"
