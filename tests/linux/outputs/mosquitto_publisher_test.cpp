// MQTT publishing against a real Mosquitto broker on a loopback port.
#include <gtest/gtest.h>
#include <unistd.h>

#include <QJsonDocument>
#include <QJsonObject>
#include <cstdlib>
#include <filesystem>
#include <functional>

#include "mqtt/mosquitto_publisher.h"
#include "tests/linux/outputs/mosquitto_broker.h"
#include "tests/core/outputs/recording_notices.h"

namespace kelvor {
namespace {

namespace fs = std::filesystem;
using testing::Broker;
using testing::Subscriber;

QJsonObject json(const std::string& payload) {
  return QJsonDocument::fromJson(QByteArray::fromStdString(payload)).object();
}

class Publishing : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ = fs::temp_directory_path() / ("kelvor-mqtt-" + std::to_string(getpid()) + "-" +
                                        ::testing::UnitTest::GetInstance()->current_test_info()->name());
    fs::remove_all(dir_);
  }
  void TearDown() override { fs::remove_all(dir_); }

  PublisherSettings settings(int port, const std::string& name) const {
    PublisherSettings s;
    s.enabled = true;
    s.host = "127.0.0.1";
    s.port = port;
    s.clientId = "test-" + name;
    s.topicPrefix = "t/" + name;
    s.queueFolder = (dir_ / ("queue-" + name)).string();
    return s;
  }
  static Reading reading(int i) {
    return {std::chrono::system_clock::now(), "T", 0, "v" + std::to_string(i), "f" + std::to_string(i)};
  }
  fs::path dir_;
};

TEST_F(Publishing, EveryReadingInOrderTheNewestRetainedAndPresence) {
  Broker broker(dir_ / "broker");
  ASSERT_TRUE(broker.start());
  Subscriber subscriber(broker.port(), {"t/one/reading", "t/one/status"});
  RecordingNotices notices;
  {
    MosquittoPublisher publisher(notices);
    publisher.configure(settings(broker.port(), "one"));
    ASSERT_TRUE(subscriber.waitFor([](const Subscriber& s) { return !s.on("t/one/status").empty(); }));
    for (int i = 1; i <= 200; ++i) publisher.publish(reading(i), "t/one");
    ASSERT_TRUE(subscriber.waitFor([](const Subscriber& s) { return s.on("t/one/reading").size() >= 200; }));
    const auto readings = subscriber.on("t/one/reading");
    ASSERT_EQ(readings.size(), 200u);
    for (int i = 1; i <= 200; ++i) {
      const QJsonObject r = json(readings[i - 1].payload);
      EXPECT_EQ(r["seq"].toInteger(), i);
      EXPECT_EQ(r["value"].toString().toStdString(), "v" + std::to_string(i));
      EXPECT_EQ(r["frame"].toString().toStdString(), "f" + std::to_string(i));
      EXPECT_EQ(r["port"].toString(), "COM1");
    }
    EXPECT_EQ(subscriber.on("t/one/status").front().payload, "online");

    Subscriber late(broker.port(), {"t/one/last"});
    ASSERT_TRUE(late.waitSubscribed());
    ASSERT_TRUE(late.waitFor([](const Subscriber& s) { return !s.on("t/one/last").empty(); }));
    EXPECT_TRUE(late.on("t/one/last").front().retained);
    EXPECT_EQ(json(late.on("t/one/last").front().payload)["seq"].toInteger(), 200);
    EXPECT_EQ(publisher.waiting(), 0u);
  }
  ASSERT_TRUE(subscriber.waitFor([](const Subscriber& s) { return s.on("t/one/status").size() >= 2; }));
  EXPECT_EQ(subscriber.on("t/one/status").back().payload, "offline");
  EXPECT_TRUE(notices.shown().empty());
}

TEST_F(Publishing, WhileTheBrokerIsAwayTheOldestPastTheBoundAreDroppedAndCounted) {
  Broker broker(dir_ / "broker");
  ASSERT_TRUE(broker.start());
  {
    // A persistent session, so the broker keeps what arrives for it while it is away.
    Subscriber first(broker.port(), {"t/two/#"}, "collector", false);
    ASSERT_TRUE(first.waitSubscribed());
  }
  broker.stop();
  RecordingNotices notices;
  MosquittoPublisher publisher(notices);
  PublisherSettings s = settings(broker.port(), "two");
  s.queueBound = 10;
  publisher.configure(s);
  for (int i = 1; i <= 25; ++i) publisher.publish(reading(i), "t/two");
  EXPECT_EQ(publisher.waiting(), 10u);
  ASSERT_TRUE(broker.start());
  Subscriber collector(broker.port(), {"t/two/#"}, "collector", false);
  ASSERT_TRUE(collector.waitFor([](const Subscriber& s) {
    return s.on("t/two/reading").size() >= 10 && !s.on("t/two/dropped").empty();
  }));
  const auto readings = collector.on("t/two/reading");
  ASSERT_EQ(readings.size(), 10u);
  for (int i = 0; i < 10; ++i) EXPECT_EQ(json(readings[i].payload)["seq"].toInteger(), 16 + i);
  EXPECT_EQ(json(collector.on("t/two/dropped").back().payload)["dropped"].toInteger(), 15);
  auto overflows = [&] {
    int full = 0;
    for (const Notice& n : notices.shown()) full += n.text.find("oldest readings are being dropped") != std::string::npos;
    return full;
  };
  EXPECT_EQ(overflows(), 1);
  // Once the queue has drained, the next overflow is told again.
  for (int i = 0; i < 500 && publisher.waiting() > 0; ++i) usleep(10000);
  ASSERT_EQ(publisher.waiting(), 0u);
  broker.stop();
  for (int i = 26; i <= 50; ++i) publisher.publish(reading(i), "t/two");
  EXPECT_EQ(overflows(), 2);
}

// A broker that stops reading: the publisher hands the library no more than its small
// window, so the readings wait on disk rather than in memory, and all arrive, in order, once
// the broker reads again.
TEST_F(Publishing, ABrokerThatStopsReadingHoldsTheReadingsOnDisk) {
  Broker broker(dir_ / "broker");
  ASSERT_TRUE(broker.start());
  Subscriber subscriber(broker.port(), {"t/slow/reading"});
  ASSERT_TRUE(subscriber.waitSubscribed());
  RecordingNotices notices;
  MosquittoPublisher publisher(notices);
  publisher.configure(settings(broker.port(), "slow"));
  ASSERT_TRUE(subscriber.waitFor([&](const Subscriber&) { return publisher.connected(); }));
  broker.pause();
  for (int i = 1; i <= 5000; ++i) publisher.publish(reading(i), "t/slow");
  std::this_thread::sleep_for(std::chrono::milliseconds(300));
  EXPECT_GE(publisher.waiting(), 5000u - 25u);
  broker.resume();
  ASSERT_TRUE(subscriber.waitFor([](const Subscriber& s) { return s.on("t/slow/reading").size() >= 5000; }, 30));
  const auto readings = subscriber.on("t/slow/reading");
  for (std::size_t i = 0; i < readings.size(); ++i) {
    ASSERT_EQ(json(readings[i].payload)["seq"].toInteger(), static_cast<qint64>(i + 1));
  }
}

TEST_F(Publishing, EachKindOfConnectionFailureIsToldOnceWithoutThePassword) {
  Broker guarded(dir_ / "guarded", "kelvor", "right");
  ASSERT_TRUE(guarded.start());
  struct Case {
    const char* name;
    std::string host;
    int port;
    const char* expected;
  } cases[] = {
      {"unresolved", "kelvor-no-such-host.invalid", 1883, "does not resolve"},
      {"refused", "127.0.0.1", testing::freeLoopbackPort(), "refused the connection"},
      {"password", "127.0.0.1", guarded.port(), "user name or password"},
  };
  std::vector<std::unique_ptr<RecordingNotices>> notices;
  std::vector<std::unique_ptr<MosquittoPublisher>> publishers;
  for (const Case& c : cases) {
    notices.push_back(std::make_unique<RecordingNotices>());
    publishers.push_back(std::make_unique<MosquittoPublisher>(*notices.back()));
    PublisherSettings s = settings(c.port, c.name);
    s.host = c.host;
    s.user = "kelvor";
    s.password = "wrong-secret";
    publishers.back()->configure(s);
    publishers.back()->publish(reading(1), s.topicPrefix);
  }
  // Long enough for three attempts (at once, after about 1 s, after about 3 s more).
  std::this_thread::sleep_for(std::chrono::milliseconds(4500));
  for (std::size_t i = 0; i < std::size(cases); ++i) {
    const auto shown = notices[i]->shown();
    ASSERT_EQ(shown.size(), 1u) << cases[i].name;
    EXPECT_NE(shown[0].text.find(cases[i].expected), std::string::npos) << shown[0].text;
    EXPECT_EQ(shown[0].text.find("wrong-secret"), std::string::npos);
    EXPECT_EQ(publishers[i]->waiting(), 1u);
  }
}

// A failure stays told while it lasts and is told again when it comes back after a good
// connection: the user hears of each outage, not only of the first.
TEST_F(Publishing, AFailureIsToldAgainAfterAGoodConnection) {
  Broker broker(dir_ / "broker");
  ASSERT_TRUE(broker.start());
  RecordingNotices notices;
  MosquittoPublisher publisher(notices);
  publisher.configure(settings(broker.port(), "again"));
  const auto within = [](const std::function<bool()>& done) {
    for (int i = 0; i < 200 && !done(); ++i) std::this_thread::sleep_for(std::chrono::milliseconds(100));
    return done();
  };
  const auto refusals = [&] {
    int count = 0;
    for (const Notice& n : notices.shown()) count += n.text.find("refused the connection") != std::string::npos;
    return count;
  };
  ASSERT_TRUE(within([&] { return publisher.connected(); }));
  for (int outage = 1; outage <= 2; ++outage) {
    broker.stop();
    ASSERT_TRUE(within([&] { return refusals() == outage; })) << "outage " << outage;
    ASSERT_TRUE(broker.start());
    ASSERT_TRUE(within([&] { return publisher.connected(); })) << "outage " << outage;
  }
  EXPECT_EQ(refusals(), 2);
}

// A CA, a broker certificate it signs for 127.0.0.1, and a second CA that signed nothing.
void makeCertificates(const fs::path& dir) {
  fs::create_directories(dir);
  const std::string d = dir.string();
  const std::string key = " -newkey ec -pkeyopt ec_paramgen_curve:prime256v1 -nodes ";
  const std::string script =
      "cd '" + d + "' && printf 'subjectAltName=IP:127.0.0.1\\n' >san.ext && "
      "openssl req -x509" + key + "-keyout ca.key -out ca.pem -days 2 -subj /CN=KelvorTestCA && "
      "openssl req" + key + "-keyout broker.key -out broker.csr -subj /CN=127.0.0.1 && "
      "openssl x509 -req -in broker.csr -CA ca.pem -CAkey ca.key -CAcreateserial -out broker.pem -days 2 "
      "-extfile san.ext && "
      "openssl req -x509" + key + "-keyout other.key -out other.pem -days 2 -subj /CN=SomeOtherCA";
  ASSERT_EQ(std::system(("(" + script + ") >/dev/null 2>&1").c_str()), 0);
}

TEST_F(Publishing, TlsWithTheBrokersCaConnectsAndAnyOtherIsToldOnce) {
  const fs::path certs = dir_ / "certs";
  makeCertificates(certs);
  const std::string c = certs.string();
  Broker broker(dir_ / "broker", {}, {},
                "cafile " + c + "/ca.pem\ncertfile " + c + "/broker.pem\nkeyfile " + c + "/broker.key\n");
  ASSERT_TRUE(broker.start());
  struct Case {
    const char* name;
    std::string caFile;
    const char* told;  // nullptr: connects
  } cases[] = {
      {"right", c + "/ca.pem", nullptr},
      {"other", c + "/other.pem", "TLS connection failed"},
      {"missing", c + "/missing.pem", "cannot be read"},
  };
  std::vector<std::unique_ptr<RecordingNotices>> notices;
  std::vector<std::unique_ptr<MosquittoPublisher>> publishers;
  for (const Case& k : cases) {
    notices.push_back(std::make_unique<RecordingNotices>());
    publishers.push_back(std::make_unique<MosquittoPublisher>(*notices.back()));
    PublisherSettings s = settings(broker.port(), k.name);
    s.caFile = k.caFile;
    publishers.back()->configure(s);
    publishers.back()->publish(reading(1), s.topicPrefix);
  }
  std::this_thread::sleep_for(std::chrono::milliseconds(2000));  // two attempts for the others
  for (std::size_t i = 0; i < std::size(cases); ++i) {
    const auto shown = notices[i]->shown();
    if (cases[i].told == nullptr) {
      EXPECT_TRUE(shown.empty()) << shown.front().text;
      EXPECT_EQ(publishers[i]->waiting(), 0u);
    } else {
      ASSERT_EQ(shown.size(), 1u) << cases[i].name;
      EXPECT_NE(shown[0].text.find(cases[i].told), std::string::npos) << shown[0].text;
      EXPECT_EQ(publishers[i]->waiting(), 1u);
    }
  }
}

}  // namespace
}  // namespace kelvor
