#include "linux/sound_output.h"

#include <QAudioFormat>
#include <QAudioSink>
#include <QBuffer>
#include <QFile>
#include <QFileInfo>
#include <QMediaDevices>

#include "core/toolkit/wav_file.h"

namespace kelvor {
namespace {

// Sounds are short: a file larger than this is not a sound the program should play.
constexpr qint64 kLargestFile = 64 * 1024 * 1024;
// Sounds may overlap (a key sound over a message sound); past this many, new ones are skipped.
constexpr int kMostAtOnce = 8;

class QtSoundOutput final : public SoundOutput {
 public:
  void play(const std::string& absolutePath) override {
    if (playing_ >= kMostAtOnce) return;
    const QString path = QFile::decodeName(absolutePath.c_str());
    // Only a regular file can be a sound: opening a named pipe would wait for a writer for
    // ever, and a device such as /dev/zero never ends.
    if (!QFileInfo(path).isFile()) return;
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly) || file.size() > kLargestFile) return;
    const QByteArray bytes = file.read(kLargestFile);
    const auto sound = decodeWav(std::string_view(bytes.constData(), static_cast<std::size_t>(bytes.size())));
    if (!sound || sound->samples.empty()) return;

    const QAudioDevice device = QMediaDevices::defaultAudioOutput();
    if (device.isNull()) return;
    QAudioFormat format;
    format.setSampleRate(sound->sampleRate);
    format.setChannelCount(sound->channels);
    format.setSampleFormat(QAudioFormat::Int16);
    if (!device.isFormatSupported(format)) return;

    auto* sink = new QAudioSink(device, format);
    auto* buffer = new QBuffer(sink);
    buffer->setData(reinterpret_cast<const char*>(sound->samples.data()),
                    static_cast<qsizetype>(sound->samples.size() * sizeof(std::int16_t)));
    buffer->open(QIODevice::ReadOnly);
    ++playing_;
    QObject::connect(sink, &QAudioSink::stateChanged, sink, [this, sink](QAudio::State state) {
      if (state == QAudio::IdleState || state == QAudio::StoppedState) {
        sink->disconnect();
        sink->stop();
        sink->deleteLater();
        --playing_;
      }
    });
    sink->start(buffer);
  }

 private:
  int playing_ = 0;
};

}  // namespace

std::unique_ptr<SoundOutput> makeQtSoundOutput() { return std::make_unique<QtSoundOutput>(); }

}  // namespace kelvor
