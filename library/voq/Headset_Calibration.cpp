#include <cstring>
#include <fstream>
#include <ios>
#include <iomanip>

#include "voq/Headset.h"

namespace VOQ {

using namespace CalibrationLayout;

namespace {

const SourceID::Code kDefaultCMFLocation = SourceID::Pz;
const double kSlotGainBase = 0.301;
const double kCommonModeGainBase = 74.0;
const double kGainCorrectionUnit = 1.0 / 32768.0;
const int kFirstLayoutWithCMFLocation = 2;

struct FixedSource {
    SourceID::Code code;   // NR stands for the factory reference's own code
    double gain;
};

// Appended after the 24 slot Sources, in this order.
const FixedSource kFixedSources[] = {
    {SourceID::TRG, 1.0},  {SourceID::NR, 0.0},   {SourceID::SND, 1.0},  {SourceID::RCV, 1.0},
    {SourceID::NUL, 0.0},  {SourceID::TRG0, 1.0}, {SourceID::TRG1, 1.0}, {SourceID::TRG2, 1.0},
    {SourceID::TRG3, 1.0}, {SourceID::TRG4, 1.0}, {SourceID::TRG5, 1.0}, {SourceID::TRG6, 1.0},
    {SourceID::TRG7, 1.0}, {SourceID::ACCT, 1.0}, {SourceID::ACCX, 1.0}, {SourceID::ACCY, 1.0},
    {SourceID::ACCZ, 1.0},
};

const char* const kStandardAliasGroups[] = {
    "T3 T7",  "T4 T8",           "T5 P7",   "T6 P8",            "M1 TP9",        "M2 TP10",
    "M1M2 TP9TP10 LM", "A1A2 LE", "TRG Trig Trigger", "NUL NULL ZERO", "CM CMF",
};

std::string NormalisedFormat(const std::string& format) { return Upper(Trim(format)); }

}  // namespace

void Headset::InterpretCalibrationMemory(const uint8_t* bytes) {
    ReadLockGuard guard(*this);
    if (bytes && bytes != calibrationMemory.data()) std::memcpy(calibrationMemory.data(), bytes, kImageSize);
    ForgetSources();

    const uint8_t* image = calibrationMemory.data();
    calibrationLayoutVersion = static_cast<signed char>(image[kLayoutVersion]);
    cmfLocation = kDefaultCMFLocation;
    if (calibrationLayoutVersion >= kFirstLayoutWithCMFLocation) cmfLocation = SourceID::Code(image[kCMFLocation]);

    StringCounter votes;
    votes.Count("10-10") = 0;

    int occupied = 0;
    for (int k = 0; k < kSlots; ++k)
        if (image[k] != 0x00 && image[k] != 0xFF) ++occupied;
    sensorCount = occupied;

    const double windowProduct = impedanceWindow * samplingRate + 0.5;
    const unsigned long window = windowProduct < 1.0 ? 0UL : static_cast<unsigned long>(windowProduct);

    sources.reserve(kSlots + sizeof kFixedSources / sizeof kFixedSources[0]);
    for (int k = 0; k < kSlots; ++k) {
        const uint8_t b = image[k];
        int c = (b >= 0x80 && b <= 0xFE) ? (b & 0x7F) : b;
        const bool commonMode =
            c == SourceID::CM || (calibrationLayoutVersion >= kFirstLayoutWithCMFLocation && c == cmfLocation);
        if (commonMode) c = SourceID::CM;
        if (c == SourceID::X1 && k == 0 && occupied == 7 && calibrationLayoutVersion < kFirstLayoutWithCMFLocation)
            c = SourceID::A1A2;
        const SourceID::Code code = ResolveRedundantSourceIDs(SourceID::Code(c), votes);
        const int16_t correction = ReadS16LE(image + kGainCorrections + kGainCorrectionStride * size_t(k));
        const double gain = (commonMode ? kCommonModeGainBase : kSlotGainBase) * (1.0 + correction * kGainCorrectionUnit);
        sources.push_back(new Source(code, SourceIDName(code), window, gain, 0.0));
    }

    factoryReferenceName = SourceIDName(cmfLocation);
    for (const FixedSource& fixed : kFixedSources) {
        if (fixed.code == SourceID::NR)
            sources.push_back(new Source(cmfLocation, factoryReferenceName, window, fixed.gain, 0.0));
        else
            sources.push_back(new Source(fixed.code, SourceIDName(fixed.code), window, fixed.gain, 0.0));
    }
    calibrationPagesReceived.clear();

    // The groups split once, not on every interpretation.
    static const std::vector<std::pair<std::string, std::vector<std::string>>> kGroups = [] {
        std::vector<std::pair<std::string, std::vector<std::string>>> groups;
        for (const char* group : kStandardAliasGroups) groups.emplace_back(group, Split(group));
        return groups;
    }();
    for (const auto& group : kGroups) AddSourceAliases(group.first, group.second);

    // The scheme with more votes; a tie goes to "10-20" (later in key order).
    std::string scheme;
    int best = -1;
    for (const auto& entry : votes.counts) {
        if (entry.second >= best) {
            best = entry.second;
            scheme = entry.first;
        }
    }
    UseNamingScheme(scheme);
}

void Headset::FlashNewCMFLocation(SourceID::Code code, signed char layoutVersion) {
    {
        ReadLockGuard guard(*this);
        if (sources.empty()) throw Error("must read calibration memory completely before attempting to write it");
        if (!(code == SourceID::NC && layoutVersion == -1)) {
            // The position must be a referential electrode whose code fits
            // the byte that stores it.
            const Source candidate(code);
            if (!candidate.IsReferentialEEG() || code < 0 || code > 0xFF)
                throw Error("cannot set code " + std::to_string(int(code)) + " (\"" + SourceIDName(code) +
                            "\") as the common mode position");
        }
        calibrationMemory[kLayoutVersion] = static_cast<uint8_t>(layoutVersion);
        calibrationMemory[kCMFLocation] = static_cast<uint8_t>(code);
    }
    // Both bytes are on the last page.
    uint8_t page[kPageSize];
    std::memcpy(page, calibrationMemory.data() + kPageSize * (kPages - 1), sizeof page);
    WriteCalibrationMemoryPage(kPages - 1, page);

    ReadLockGuard guard(*this);
    InterpretCalibrationMemory(nullptr);
}

void Headset::ForgetSources() {
    ReadLockGuard guard(*this);
    ForgetMontage();
    chosenDefaultReference.clear();
    for (Source* source : sources) delete source;
    sources.clear();
}

void Headset::DumpCalibrationMemoryToFile(const std::string& fileName, const std::string& format) {
    const std::string normalised = NormalisedFormat(format);
    if (normalised != "DEC" && normalised != "HEX" && normalised != "BIN")
        throw Error("unrecognized dump file format \"" + normalised + "\"");

    std::array<uint8_t, kImageSize> image;
    {
        ReadLockGuard guard(*this);
        image = calibrationMemory;
    }

    std::ofstream file(fileName, std::ios::binary | std::ios::out | std::ios::trunc);
    if (!file.is_open()) throw Error("failed to open \"" + fileName + "\" to dump calibration memory");
    file << normalised << '\n';
    if (normalised == "BIN") {
        file.write(reinterpret_cast<const char*>(image.data()), std::streamsize(image.size()));
        return;
    }
    for (size_t i = 0; i < image.size(); ++i) {
        if (normalised == "DEC")
            file << std::dec << std::setfill(' ') << std::setw(3) << unsigned(image[i]);
        else
            file << std::hex << std::uppercase << std::setfill('0') << std::setw(2) << unsigned(image[i]);
        file << (((i + 1) % 8 == 0) ? '\n' : ' ');
    }
}

void Headset::ReadCalibrationMemoryFromFile(const std::string& fileName, const std::string& format) {
    std::ifstream file(fileName, std::ios::binary | std::ios::in);
    if (!file.is_open()) throw Error("failed to open \"" + fileName + "\" to read calibration memory");

    std::string chosen = NormalisedFormat(format);
    const bool detect = chosen.empty();
    bool headerConsumed = false;

    std::string word;
    file >> word;
    if (detect) {
        chosen = Upper(word);
        headerConsumed = true;
    } else if (chosen != "BIN" && Upper(word) == chosen) {
        headerConsumed = true;
    } else {
        // No header: the values (or, for "BIN", the bare image) start at the
        // first byte.
        file.clear();
        file.seekg(0);
    }

    const std::string count = std::to_string(kImageSize);
    std::array<uint8_t, kImageSize> image;
    if (chosen == "DEC" || chosen == "HEX") {
        // A value ended by the end of the file counts: only a failed
        // extraction is a reading failure.
        const bool hex = chosen == "HEX";
        for (size_t i = 0; i < kImageSize; ++i) {
            long value = 0;
            if (hex)
                file >> std::hex >> value;
            else
                file >> std::dec >> value;
            if (file.fail())
                throw Error("failed to read " + count + (hex ? " 8-bit hex-formatted values from " :
                                                               " 8-bit decimal-formatted values from ") +
                            fileName);
            image[i] = static_cast<uint8_t>(value & 0xFF);
        }
    } else if (chosen == "BIN") {
        if (headerConsumed) file.get();
        for (size_t i = 0; i < kImageSize; ++i) {
            char byte = 0;
            file.get(byte);
            if (!file.good())
                throw Error("failed to read " + count + " raw bytes (after 'BIN\\n' header) from " + fileName);
            image[i] = static_cast<uint8_t>(byte);
        }
    } else if (detect) {
        throw Error("file \"" + fileName +
                    "\" has unexpected format - expected it to begin with 'DEC\\n', 'HEX\\n' or 'BIN\\n'");
    } else {
        throw Error("unrecognized format \"" + chosen + "\"");
    }

    ReadLockGuard guard(*this);
    InterpretCalibrationMemory(image.data());
}

void Headset::WriteCalibrationMemory(unsigned int firstPage) {
    for (unsigned int page = firstPage; page < unsigned(kPages); ++page) {
        uint8_t data[kPageSize];
        {
            ReadLockGuard guard(*this);
            std::memcpy(data, calibrationMemory.data() + kPageSize * page, sizeof data);
        }
        WriteCalibrationMemoryPage(page, data);
    }
}

bool Headset::WriteCalibrationMemoryPage(unsigned int page, const uint8_t* data) {
    if (page >= unsigned(kPages))
        throw Error("cannot write to page number " + std::to_string(page) + ": must be in range 0 to " +
                    std::to_string(kPages));
    uint8_t payload[kPageData + kPageSize];
    payload[0] = static_cast<uint8_t>(kWritePage + int(page));
    payload[1] = kWriteEnable;
    std::memcpy(payload + kPageData, data, kPageSize);
    Command command(CommandDestination::Master, CommandFamily::CalibrationMemory, payload, sizeof payload);
    return Send(command, kReplyTimeout, kAttempts);
}

}  // namespace VOQ
