#include "device_link.h"

#include <algorithm>
#include <utility>

namespace trellikon {

namespace texts {
const char* const kConnecting = "Trwa nawiązywanie polączenia z urządzeniem";
const char* const kConnectedStatus = "Połączenie z urządzeniem nawiązane";
const char* const kConnectedWindow = "Polaczenie z urządzeniem nawiązane";
const char* const kConnectFailed = "Nawiązanie polączenia z ukladem nie powiodlo się.";
const char* const kConnectFailedHint =
    "Wybierz port komputera wyłącz i włącz urządzenie a następnie wcisnij przycisk "
    "\"Nawiąż połączenie\".";
const char* const kReadStarted = "Trwa odczyt ustawień urządzenia";
const char* const kReadDone = "Ustawienia zostały pobrane";
const char* const kReadFailed =
    "Błąd!  Wybierz port komputera wyłącz i włącz urządzenie a następnie wcisnij przycisk "
    "\"Nawiąż połączenie\".";
const char* const kReadFailedStatus =
    "Nawiązanie połączenia z komputerem zostało zerwane. Wyłącz i włącz urządzenie wybierz "
    "port i naciśnij przycisk \"Nawiąż połączenie\"";
const char* const kWriteStarted = "Trwa zapis ustawień do urządzenia";
const char* const kWriteDone = "Programowanie urządzenia zakończono pomyślnie";
const char* const kWriteFailed =
    "Błąd!  Wybierz port komputera wyłącz i włącz urządzenie a następnie wcisnij przycisk "
    "\"Nawiąż połączenie\"";
const char* const kConnectionCut =
    "Połączenie z urządzeniem zostało przerwane: port zgłosił odłączenie kabla lub przejściówki.";
const char* const kReadNotConnected =
    "Odczyt ustawień nie może być przeprowadzony. Wybierz port komputera, wyłącz i włącz "
    "urządzenie a następnie nacinij przycisk \"Nawiąż połączenie\"";
const char* const kPortOpenFailed = "Niewłaściwa nazwa lub jest aktywny port ";
const char* const kConnectionLostStatus =
    "Nastąpiło zerwanie komunikacji z programem.Wyłącz i włącz urządzenie, wybierz port a "
    "następnie nasiśnij przycisk \"Nawiąż połączenie\"";
const char* const kInitialStatus =
    "Wybierz port komputera, wyłącz i włącz urządzenie i naciśnij przycisk \"Nawiąż "
    "połączenie\"";
} // namespace texts

using namespace frame;

namespace {
using NoPorts = std::vector<std::string>;
} // namespace

DeviceLink::DeviceLink(SettingsImage& image, SerialPort& port, LinkObserver& observer)
    : image_(image), port_(port), out_(observer) {
    port_name = "COM1";
}

bool DeviceLink::Read_Comm(std::size_t n) {
    n = std::min({n, kReceiveLimit, receive_.size()});
    receive_count_ = std::min(port_.read(receive_.data(), n), n);
    return receive_count_ > 0;
}

bool DeviceLink::Write_Comm(std::size_t n) {
    return port_.write(send_.data(), std::min(n, send_.size()));
}

void DeviceLink::sendFrame(std::size_t n) {
    if (!port_.valid())
        return;
    port_.flush();
    if (Write_Comm(n))
        ++frames_sent_;
    else
        ++failed_sends_;
}

int* DeviceLink::barSlot(LinkWindow window) {
    switch (window) {
    case LinkWindow::Connection:
        return &connect_bar_;
    case LinkWindow::ReadProgress:
        return &read_bar_;
    case LinkWindow::WriteProgress:
        return &write_bar_;
    case LinkWindow::ConnectionLost:
        break;
    }
    return nullptr;
}

int DeviceLink::bar(LinkWindow window) const {
    const int* slot = const_cast<DeviceLink*>(this)->barSlot(window);
    return slot ? *slot : 0;
}

void DeviceLink::setBar(LinkWindow window, int position) {
    int* slot = barSlot(window);
    if (!slot)
        return;
    const int max = window == LinkWindow::Connection ? kConnectBarMax : kProgressBarMax;
    *slot = std::clamp(position, 0, max); // a bar holds positions past its end at the end
    out_.barPosition(window, *slot);
}

void DeviceLink::advanceBar(LinkWindow window, int max) {
    const int now = bar(window);
    setBar(window, now < max ? now + kBarStep : 0);
}

void DeviceLink::label(LinkWindow window, int n, const char* text) {
    out_.labelText(window, n, text);
}

void DeviceLink::Timer1Timer() {
    receiveStep();
    sendStep();
}

void DeviceLink::receiveStep() {
    if (!Read_Comm(kReceiveLimit))
        return;
    const auto& rb = receive_;
    // A frame counts only when this read brought all of it. The buffer's tail
    // still holds earlier reads, and a frame that came only in part would
    // otherwise be completed from them: its check byte would then be a stale
    // one, which matches by chance once in 256 tries, and a block the device
    // never sent would be stored.
    const std::size_t got = receive_count_;
    if (connecting)
        census_.feed(rb.data(), got);

    if (got >= kHandshakeSize && rb[0] == kStart && rb[1] == kHandshake && rb[2] == kHandshake) {
        answer_handshake = 1;
        out_.outcome(LinkOutcome::Connected);
        setBar(LinkWindow::Connection, kConnectBarMax);
        connecting = 0;
        connected = 1;
        out_.statusText(texts::kConnectedStatus);
        label(LinkWindow::Connection, 1, texts::kConnectedWindow);
        silence_ticks = 0;
        label(LinkWindow::Connection, 2, "");
        close_connect_window = 1;
        close_delay_ticks = 0;
    }

    // An acknowledgement outside a write would move the block counter of a read
    // (a read jumped to block 7 ends as a success with blocks missing).
    if (write_progress && got >= kRequestSize && rb[0] == kStart && rb[1] == kWrite &&
        rb[3] == (kWrite ^ rb[2])) {
        // The device's block number wins over ours. A number past the last block
        // ends the write like block 7 and leaves the counter on the last block.
        block_no = std::min<std::uint8_t>(rb[2], layout::kBlockCount - 1);
        connected = 1;
        silence_ticks = 0;
        if (rb[2] <= 6) {
            ++block_no;
        } else {
            write_progress = 0;
            silence_ticks = 0;
            write_active = 0;
            out_.outcome(LinkOutcome::WriteComplete);
            label(LinkWindow::WriteProgress, 1, texts::kWriteDone);
            setBar(LinkWindow::WriteProgress, kProgressBarMax);
        }
    }

    // A reply nobody asked for would overwrite the image the editors stored.
    if (request_block && got >= kBlockFrameSize && rb[0] == kStart && rb[1] == kRead &&
        rb[kBlockFrameSize - 1] ==
            SettingsImage::checkByteOf(std::span(rb.data(), kBlockFrameSize - 1))) {
        connected = 1;
        silence_ticks = 0;
        // Our own block number decides where the data goes, never the reply's.
        SettingsImage& target = copy_read_ ? copy_ : image_;
        target.setBlock(block_no, std::span(rb.data() + 3, layout::kBlockSize));
        if (block_no <= 6) {
            request_block = 1;
            ++block_no;
        } else {
            request_block = 0;
            copy_complete_ = copy_read_;
            out_.outcome(LinkOutcome::ReadComplete);
            setBar(LinkWindow::ReadProgress, 0);
            label(LinkWindow::ReadProgress, 1, texts::kReadDone);
            setBar(LinkWindow::ReadProgress, kProgressBarMax);
            read_active = 0;
            silence_ticks = 0;
        }
    }
}

void DeviceLink::sendStep() {
    auto& sb = send_;
    if (request_block && block_no < layout::kBlockCount) {
        sb[0] = kStart;
        sb[1] = kRead;
        sb[2] = block_no;
        sb[3] = SettingsImage::checkByteOf(std::span(sb.data(), 3));
        sendFrame(kRequestSize);
    }
    if (answer_handshake) {
        answer_handshake = 0;
        sb[0] = kStart;
        sb[1] = kHandshake;
        sb[2] = kHandshake;
        sendFrame(kHandshakeSize);
    }
    if (write_active) {
        if (block_no >= layout::kBlockCount)
            return;
        const auto& bytes = outgoing_ ? *outgoing_ : image_.bytes();
        const auto block =
            bytes.begin() + static_cast<std::ptrdiff_t>(block_no.get()) * layout::kBlockSize;
        sb[0] = kStart;
        sb[1] = kWrite;
        sb[2] = block_no;
        std::copy(block, block + layout::kBlockSize, sb.begin() + 3);
        sb[kBlockFrameSize - 1] =
            SettingsImage::checkByteOf(std::span(sb.data(), kBlockFrameSize - 1));
        sendFrame(kBlockFrameSize);
    }
}

void DeviceLink::Timer2Timer() {
    // Connection-loss watch. The watch is disarmed before the notice is shown
    // because this tick goes on being entered while the notice is up.
    if (watch_link) {
        if (silence_ticks >= kSilenceLimit) {
            watch_link = 0;
            silence_ticks = 0;
            out_.outcome(LinkOutcome::ConnectionLost);
            out_.showWindow(LinkWindow::ConnectionLost);
        } else {
            ++silence_ticks;
        }
    }

    // Close the connection window a little after the handshake.
    if (close_connect_window) {
        if (close_delay_ticks >= kCloseDelay) {
            close_delay_ticks = 0;
            close_connect_window = 0;
            out_.closeWindow(LinkWindow::Connection);
        } else {
            ++close_delay_ticks;
        }
    }

    // Connection progress: the bar starts over while the attempt goes on.
    if (connecting) {
        if (connect_bar_ < kConnectBarMax) {
            setBar(LinkWindow::Connection, connect_bar_ + kBarStep);
        } else {
            connected = 0;
            watch_link = 0;
            setBar(LinkWindow::Connection, 0);
        }
    }

    // Connection time-out.
    if (connecting) {
        if (connect_ticks >= kConnectLimit) {
            connected = 0;
            watch_link = 0;
            connecting = 0;
            connect_ticks = 0;
            failure_text_ = texts::kConnectFailed;
            diagnosis_ =
                connectDiagnosis(census_.census(), appearedPorts ? appearedPorts() : NoPorts{},
                                 portsNow ? portsNow() : NoPorts{});
            out_.outcome(LinkOutcome::ConnectFailed);
            setBar(LinkWindow::Connection, 0);
            label(LinkWindow::Connection, 1, texts::kConnectFailed);
            label(LinkWindow::Connection, 2, texts::kConnectFailedHint);
            out_.statusText(texts::kConnectFailedHint);
            out_.connectDiagnosis(diagnosis_);
        } else {
            ++connect_ticks;
        }
    }

    endTransferOnLoss();

    // Read time-out: the whole read, not each block.
    if (read_active)
        ++read_ticks;
    if (read_ticks > kTransferLimit)
        failRead(texts::kReadFailed);

    // Write time-out; the connection stays so that the write can be retried.
    if (write_progress)
        ++write_ticks;
    if (write_ticks > kTransferLimit) {
        write_ticks = 0;
        failure_text_ = texts::kWriteFailed;
        out_.outcome(LinkOutcome::WriteTimedOut);
        label(LinkWindow::WriteProgress, 1, texts::kWriteFailed);
        write_active = 0;
        write_progress = 0;
    }

    // Activity bars.
    if (read_active)
        advanceBar(LinkWindow::ReadProgress, kProgressBarMax);
    if (write_progress)
        advanceBar(LinkWindow::WriteProgress, kProgressBarMax);
}

void DeviceLink::failRead(const std::string& text) {
    read_ticks = 0;
    read_active = 0;
    read_failed = 1;
    connected = 0;
    watch_link = 0;
    failure_text_ = text;
    out_.outcome(LinkOutcome::ReadTimedOut);
    out_.labelText(LinkWindow::ReadProgress, 1, text);
    request_block = 0;
    out_.statusText(texts::kReadFailedStatus);
}

// A port that lost its device will bring no answer: the transfer ends now
// with its failure texts, and what is known of the loss after them, instead
// of at the time-out kept for a device that is there but silent.
void DeviceLink::endTransferOnLoss() {
    if (!port_.lost())
        return;
    if (read_active)
        failRead(std::string(texts::kReadFailed) + "\n" + texts::kConnectionCut);
    if (write_progress) {
        write_ticks = 0;
        write_active = 0;
        write_progress = 0;
        connected = 0; // the port is closed: only a new connection writes again
        failure_text_ = std::string(texts::kWriteFailed) + "\n" + texts::kConnectionCut;
        out_.outcome(LinkOutcome::WriteInterrupted);
        std::string text = failure_text_;
        if (const std::string note = interruptedWriteNote ? interruptedWriteNote() : "";
            !note.empty())
            text += "\n" + note;
        out_.labelText(LinkWindow::WriteProgress, 1, text);
    }
}

bool DeviceLink::connectCommand() {
    connected = 0;
    connecting = 0;
    silence_ticks = 0;
    watch_link = 1;
    connect_ticks = 0;
    close_delay_ticks = 0;
    close_connect_window = 0;
    out_.statusText(texts::kConnecting);
    label(LinkWindow::Connection, 1, texts::kConnecting);
    label(LinkWindow::Connection, 2, "");
    diagnosis_.clear();
    out_.connectDiagnosis("");
    setBar(LinkWindow::Connection, 0);
    census_.reset();

    open_error_ = LinkError{};
    if (!port_.open(port_name, open_error_)) {
        // No attempt began, so there is no connection whose loss could be reported.
        watch_link = 0;
        const Failure shown = openFailure();
        out_.errorMessage(shown.message, shown.detail);
        return false;
    }
    connecting = 1;
    out_.showWindow(LinkWindow::Connection);
    return true;
}

Failure DeviceLink::openFailure() const {
    std::string detail = open_error_.message;
    if (!open_error_.detail.empty() && detail.find(open_error_.detail) == std::string::npos)
        detail = port_name.get() + " = " + open_error_.detail + "\n" + detail;
    return makeFailure(open_error_ ? open_error_.code : Failure::Code::Other,
                       texts::kPortOpenFailed + port_name.get(), std::move(detail));
}

void DeviceLink::readCommand() {
    beginRead(false);
}

void DeviceLink::readCopyCommand() {
    beginRead(true);
}

const SettingsImage::Bytes* DeviceLink::readCopy() const {
    return copy_read_ && copy_complete_ ? &copy_.bytes() : nullptr;
}

void DeviceLink::beginRead(bool copy) {
    read_failed = 0;
    watch_link = 0;
    copy_read_ = copy;
    copy_complete_ = false;
    if (!connected) {
        out_.errorMessage(texts::kReadNotConnected, "");
        return;
    }
    (copy ? copy_ : image_).eraseAll();
    setBar(LinkWindow::ReadProgress, 0);
    read_active = 1;
    label(LinkWindow::ReadProgress, 1, texts::kReadStarted);
    read_ticks = 0;
    block_no = 0;
    request_block = 1;
    out_.showWindow(LinkWindow::ReadProgress);
}

void DeviceLink::beginWrite() {
    beginWrite(image_.bytes());
}

void DeviceLink::beginWrite(const SettingsImage::Bytes& bytes) {
    outgoing_ = &bytes;
    watch_link = 0;
    write_active = 1;
    block_no = 0;
    setBar(LinkWindow::WriteProgress, 0);
    write_progress = 1;
    write_ticks = 0;
    label(LinkWindow::WriteProgress, 1, texts::kWriteStarted);
    out_.showWindow(LinkWindow::WriteProgress);
}

bool DeviceLink::readWindowOk() {
    if (read_failed) {
        connected = 0;
        return false;
    }
    return !copy_read_;
}

void DeviceLink::endWrite() {
    write_active = 0;
}

void DeviceLink::disarmWatch() {
    watch_link = 0;
}

void DeviceLink::reset() {
    connected = 0;
    silence_ticks = 0;
    watch_link = 0;
    request_block = 0;
    write_progress = 0;
    write_active = 0;
}

void DeviceLink::assumeConnected() {
    connected = 1;
}

void DeviceLink::setPortName(std::string name) {
    port_name = std::move(name);
}

void DeviceLink::connectionLostOk() {
    connected = 0;
    out_.statusText(texts::kConnectionLostStatus);
}

} // namespace trellikon
