// Bytes as a settings file: loaded over the defaults, saved, and loaded again. Whatever the first
// load kept must survive the round trip exactly: the saved file loads completely, gives the same
// options, and saving those gives the same bytes.
#include <cstdint>
#include <string>

#include "fuzz_support.h"
#include "options/conversion_options.h"
#include "options/settings_file.h"
#include "platform/paths.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    qmfuzz::Setup();
    qmfuzz::InputFolder work;
    const std::string input = work.Write("input.dat", data, size);

    qm::ConversionOptions first;
    const qm::SettingsLoad loaded = qm::SettingsFile::Load(first, input);
    QMFUZZ_CHECK(loaded == qm::SettingsLoad::Complete || loaded == qm::SettingsLoad::Damaged,
                 "load result " + std::to_string(static_cast<int>(loaded)));

    const std::string saved = work.Path() + "saved.dat";
    QMFUZZ_CHECK(qm::SettingsFile::Save(first, saved) == qm::SettingsSave::Saved, saved);
    std::string bytes;
    QMFUZZ_CHECK(qm::ReadFile(saved, bytes), saved);
    QMFUZZ_CHECK(bytes == qm::SettingsFile::Encode(first), "saved file differs from the encoding");

    qm::ConversionOptions second;
    QMFUZZ_CHECK(qm::SettingsFile::Load(second, saved) == qm::SettingsLoad::Complete, "saved file loads damaged");
    QMFUZZ_CHECK(qm::SettingsFile::Encode(second) == bytes, "options changed on the round trip");

    // The same bytes decoded in memory give the same options as the file.
    qm::ConversionOptions decoded;
    const qm::SettingsLoad fromMemory =
        qm::SettingsFile::Decode(std::string(reinterpret_cast<const char *>(data), size), decoded);
    QMFUZZ_CHECK(fromMemory == loaded, "decode and load disagree");
    QMFUZZ_CHECK(qm::SettingsFile::Encode(decoded) == bytes, "decode and load give other options");
    return 0;
}
