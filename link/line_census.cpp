#include "line_census.h"

#include "frame.h"
#include "polish_plural.h"
#include "settings_image.h"

#include <algorithm>
#include <span>

namespace trellikon {

namespace {

std::size_t frameLength(std::uint8_t command) {
    switch (command) {
    case frame::kHandshake:
        return frame::kHandshakeSize;
    case frame::kWrite:
        return frame::kRequestSize; // an acknowledgement
    case frame::kRead:
        return frame::kBlockFrameSize; // a read reply
    default:
        return 0;
    }
}

bool checkHolds(const std::vector<std::uint8_t>& f) {
    switch (f[1]) {
    case frame::kHandshake:
        return f[2] == frame::kHandshake;
    case frame::kWrite:
        return f[3] == (frame::kWrite ^ f[2]);
    default:
        return f.back() == SettingsImage::checkByteOf(std::span(f.data(), f.size() - 1));
    }
}

std::string joined(const std::vector<std::string>& names) {
    std::string s;
    for (const auto& n : names) {
        if (!s.empty())
            s += ", ";
        s += n;
    }
    return s;
}

std::string portsToTry(const std::vector<std::string>& appeared,
                       const std::vector<std::string>& present) {
    if (appeared.size() == 1)
        return " Od uruchomienia programu pojawił się port " + appeared.front() +
               ": sprawdź najpierw jego.";
    if (!appeared.empty())
        return " Od uruchomienia programu pojawiły się porty " + joined(appeared) +
               ": sprawdź najpierw je.";
    if (!present.empty())
        return " Porty szeregowe obecne teraz: " + joined(present) + ".";
    return {};
}

} // namespace

void LineCensusTaker::reset() {
    census_ = {};
    pending_.clear();
}

void LineCensusTaker::feed(const std::uint8_t* data, std::size_t n) {
    if (data == nullptr)
        return;
    for (std::size_t i = 0; i < n; ++i)
        take(data[i]);
}

void LineCensusTaker::take(std::uint8_t byte) {
    ++census_.bytes;
    if (pending_.empty()) {
        if (byte == frame::kStart)
            pending_.push_back(byte);
        return;
    }
    if (pending_.size() == 1 && frameLength(byte) == 0) {
        // Not a command after all; this byte may itself start a frame.
        pending_.clear();
        if (byte == frame::kStart)
            pending_.push_back(byte);
        return;
    }
    pending_.push_back(byte);
    if (pending_.size() < frameLength(pending_[1]))
        return;
    ++census_.frames;
    if (!checkHolds(pending_))
        ++census_.damagedFrames;
    pending_.clear();
}

std::string connectDiagnosis(const LineCensus& census, const std::vector<std::string>& appeared,
                             const std::vector<std::string>& present) {
    const auto count = [](std::uint64_t n, const char* one, const char* few, const char* many) {
        return polishCount(static_cast<long long>(std::min<std::uint64_t>(n, 1ull << 62)), one, few,
                           many);
    };
    if (census.bytes == 0)
        return "Nie odebrano z urządzenia ani jednego bajtu. Sprawdź, czy urządzenie jest "
               "zasilane, czy wtyk kabla jest dobrze osadzony w gnieździe urządzenia i czy "
               "wybrano właściwy port." +
               portsToTry(appeared, present);
    if (census.damagedFrames > 0)
        return "Odebrano " + count(census.damagedFrames, "ramkę", "ramki", "ramek") +
               " urządzenia z błędną sumą kontrolną. Możliwa przyczyna: uszkodzony przewód lub "
               "zakłócenia.";
    if (census.frames == 0)
        return "Odebrano " + count(census.bytes, "bajt", "bajty", "bajtów") +
               ", ale żadnej ramki urządzenia. Możliwa przyczyna: inne urządzenie na tym porcie "
               "albo zła prędkość.";
    // Whole, sound frames and still no handshake taken: it came split across
    // two reads, or the device answered something it was asked before.
    return "Odebrano " + count(census.frames, "ramkę", "ramki", "ramek") +
           " urządzenia, ale nie jego zgłoszenie. Wyłącz i włącz urządzenie jeszcze raz.";
}

} // namespace trellikon
