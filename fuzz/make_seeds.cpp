// Writes the seed corpora of the fuzz targets from the images and frames the
// tests use, one directory per target under the directory given:
//   build-fuzz/make_seeds fuzz/corpus
// The output is committed; run this again when a target's input format changes.
#include "device_link.h"
#include "random_image.h"
#include "register.h"
#include "register_file.h"

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

using namespace trellikon;
using Bytes = std::vector<std::uint8_t>;
namespace fs = std::filesystem;

namespace {

fs::path g_root;

void put(const std::string& target, const std::string& name, const Bytes& b) {
    const fs::path dir = g_root / target;
    fs::create_directories(dir);
    std::ofstream(dir / name, std::ios::binary)
        .write(reinterpret_cast<const char*>(b.data()), static_cast<std::streamsize>(b.size()));
}

Bytes of(const SettingsImage::Bytes& image) {
    return Bytes(image.begin(), image.end());
}
Bytes of(const std::string& s) {
    return Bytes(s.begin(), s.end());
}

SettingsImage::Bytes filled(std::uint8_t v) {
    SettingsImage::Bytes b;
    b.fill(v);
    return b;
}

// The image the link tests read from their simulated device.
SettingsImage::Bytes readTestImage() {
    SettingsImage im;
    im.setBytes(randomImage(3));
    im.writeText(0, "HEADER");
    im.writeSubscriber(100, "48123456789");
    return im.bytes();
}

// Every field valid, with the values the tests write.
SettingsImage::Bytes validFields() {
    using namespace layout;
    SettingsImage im;
    im.eraseAll();
    im.writePhoneNumber(kSmsCentreNumber, "48601000310");
    im.writePhoneNumber(kUserNumber1, "48123456789");
    im.writePhoneNumber(kUserNumber2, "12345678901234567");
    im.writeValueGroup(kOutput1AutoEnabled, std::array<std::uint8_t, 3>{1, 0x01, 0x2C});
    im.writeValueGroup(kDailySmsLimit, std::array<std::uint8_t, 4>{'1', '2', 0, '9'});
    im.writeValuePair(kSmsMask, 0xF0);
    im.writeValuePair(kEchoEnabled, 1);
    im.writeValuePair(kClipOutput1Enabled, 1);
    im.writeValuePair(kBalanceQueryCodeLength, 5);
    for (std::size_t i = 0; i < kBalanceQueryCodeArea; ++i)
        im.set(kBalanceQueryCode + i, i < 5 ? static_cast<std::uint8_t>("*101#"[i]) : 0);
    im.set(kBalanceQueryCodeCheck, im.checkByte(kBalanceQueryCode, kBalanceQueryCodeArea));
    im.writeText(0, "TRELLIKON: ");
    im.writeText(1, "Za\xB3\xB9"
                    "cz \x8C");
    im.writeText(14, std::string("\"\\\t\x7F\x81\x1B/"));
    im.writeSubscriber(1, "48123456789");
    im.writeSubscriber(7, "123");
    im.writeSubscriber(168, std::string("\"\xB3\x01x\xFF"
                                        "555555"));
    return im.bytes();
}

// Operations of the receive-step target (see fuzz_receive_step.cpp).
struct Ops {
    Bytes b;
    explicit Ops(std::uint8_t phase) : b{phase} {}
    Ops& raw(const Bytes& bytes) {
        b.push_back(0);
        b.push_back(static_cast<std::uint8_t>(bytes.size()));
        b.push_back(static_cast<std::uint8_t>(bytes.size() >> 8));
        b.insert(b.end(), bytes.begin(), bytes.end());
        return *this;
    }
    Ops& slow(int ticks) {
        b.push_back(4);
        b.push_back(static_cast<std::uint8_t>(ticks));
        return *this;
    }
    Ops& reply(std::uint8_t third, const std::uint8_t* data, std::size_t cut = 0) {
        b.push_back(5);
        b.push_back(third);
        b.insert(b.end(), data, data + layout::kBlockSize);
        b.push_back(static_cast<std::uint8_t>(cut));
        b.push_back(static_cast<std::uint8_t>(cut >> 8));
        return *this;
    }
    Ops& ack(std::uint8_t block, std::uint8_t cut = 0) {
        b.insert(b.end(), {6, block, cut});
        return *this;
    }
    Ops& command(std::uint8_t which) {
        b.insert(b.end(), {7, which});
        return *this;
    }
};

// A small sound register: two installations, an unassigned read, a write.
void registerSeed(const SettingsImage::Bytes& first, const SettingsImage::Bytes& second) {
    const fs::path file = fs::temp_directory_path() / "make_seeds-rejestr.sqlite";
    for (const char* end : {"", "-wal", "-shm"})
        fs::remove(file.string() + end);
    {
        std::string error;
        trellikon::reg::OpenOptions options;
        options.dailyCopy = false;
        auto opened = trellikon::reg::openRegister(file.string(), options);
        error = opened.failure.message;
        const auto r = std::move(opened.value);
        if (!r) {
            std::fprintf(stderr, "make_seeds: %s\n", error.c_str());
            std::exit(1);
        }
        const auto site = r->createInstallation("Kowalska", "brama", "48600000001").value;
        r->createInstallation("Nowak", "", "");
        r->record({first, trellikon::reg::kind::kRead, "COM1", "0.1.0", site, {}});
        r->record({second, trellikon::reg::kind::kWrite, "COM1", "0.1.0", site, {}});
        r->record({first, trellikon::reg::kind::kRead, "COM2", "0.1.0", 0, {}});
    }
    std::ifstream in(file, std::ios::binary);
    put("fuzz_register_open", "small-register",
        Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()));
    fs::remove(file);
}

} // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: make_seeds CORPUS-DIRECTORY\n");
        return 2;
    }
    g_root = argv[1];

    const auto readImage = readTestImage();
    const auto valid = validFields();
    for (const auto& [name, image] :
         std::vector<std::pair<std::string, SettingsImage::Bytes>>{{"erased", filled(0xFF)},
                                                                   {"zeros", filled(0x00)},
                                                                   {"empty-file", filled(0x1A)},
                                                                   {"read-test", readImage},
                                                                   {"random-9", randomImage(9)},
                                                                   {"valid-fields", valid}}) {
        put("fuzz_decoders", name, of(image));
        put("fuzz_template_load", name, of(image));
    }
    put("fuzz_template_load", "empty", {});
    put("fuzz_template_load", "ten-bytes", of(std::string("0123456789")));
    Bytes longer = of(valid);
    longer.resize(5000, 0x42);
    put("fuzz_template_load", "5000-bytes", longer);

    Bytes all(256);
    for (int i = 0; i < 256; ++i)
        all[static_cast<std::size_t>(i)] = static_cast<std::uint8_t>(i);
    put("fuzz_cp1250", "every-byte", all);
    put("fuzz_cp1250", "polish-cp1250",
        of(std::string("Za\xB3\xB9"
                       "cz \x8C")));
    put("fuzz_cp1250", "polish-utf8", of(std::string("Załącz Ś ąćęłńóśźż ĄĆĘŁŃÓŚŹŻ €")));
    put("fuzz_cp1250", "escapes", of(std::string("\"\\\t\x7F\x81\x1B/")));
    put("fuzz_cp1250", "no-form", of(std::string("日本 \xF0\x9F\x98\x80 \xC3\xA6")));
    put("fuzz_cp1250", "malformed",
        of(std::string("\xC0\xAF \xED\xA0\x80 \xF4\x90\x80\x80 \xE2\x82")));

    // The CSV import: a mode byte (0 add, 1 replace), then the file.
    auto csvSeed = [](const char* name, char mode, const std::string& file) {
        put("fuzz_subscriber_csv", name, of(std::string(1, mode) + file));
    };
    csvSeed("export", 1,
            "\xEF\xBB\xBFPozycja;Numer telefonu\r\n1;48601234567\r\n43;48512345678\r\n");
    csvSeed("spreadsheet", 0,
            "Lp.;Imi\xEA i nazwisko;Telefon\r\n1;Jan;+48 601 234 567\r\n2;\"Nowak; "
            "\"\"Ala\"\"\";601-234-568\r\n3;Ewa;0048601234569\r\n4;X;abc\r\n");
    csvSeed("tabs-and-quotes", 1,
            "Adres\tTel.\n\"ul. Polna 1\nm. 4\"\t(22) 123 45 67\n\t601\xC2\xA0"
            "234\xC2\xA0"
            "567\n");
    csvSeed("commas-cr", 0, "nr,telefon\r5,601234567\r200,601234568\r5,601234567\r");
    csvSeed("no-header", 1, "601234567\n\n;;\n48600000002\n4.86E+10\n");

    const auto& mem = readImage;
    auto block = [&](int k) { return mem.data() + k * layout::kBlockSize; };
    Ops fullRead(1);
    for (int k = 0; k < 8; ++k)
        fullRead.reply(static_cast<std::uint8_t>(k), block(k));
    put("fuzz_receive_step", "full-read", fullRead.b);
    put("fuzz_receive_step", "split-reply",
        Ops(1).reply(0, block(0)).reply(1, block(1), 300).reply(1, block(1)).b);
    put("fuzz_receive_step", "stale-completions",
        Ops(1).raw({0xAA, 0x03, 0x03}).reply(0, block(0)).raw({0xAA}).raw({0xAA, 0x03}).b);
    Ops fullWrite(2);
    for (std::uint8_t k = 0; k < 8; ++k)
        fullWrite.ack(k);
    put("fuzz_receive_step", "full-write", fullWrite.b);
    put("fuzz_receive_step", "acks-out-of-order",
        Ops(2).ack(3).ack(4, 2).ack(6, 3).raw({0xAA, 0x02, 0x06, 0x00}).ack(8).ack(255).b);
    put("fuzz_receive_step", "connect",
        Ops(0)
            .raw({0xAA})
            .raw({0xAA, 0x01, 0x01})
            .slow(10)
            .raw({0xAA, 0x01, 0x01})
            .slow(63)
            .slow(63)
            .b);
    // Register exports: installations with notes and a device number, versions
    // of every kind, an unassigned one, Polish letters. Times in the past, so
    // that the import takes them.
    {
        reg::ExportContent c;
        c.installations.push_back({"Kowalska, Lipowa 5", "brama od podwórza\nkod 1234", ""});
        c.installations.push_back({"Żabia Wola – świetlica", "", "48501000000"});
        const char* kinds[] = {reg::kind::kRead,          reg::kind::kBackup,
                               reg::kind::kWriteVerified, reg::kind::kWriteInterrupted,
                               reg::kind::kRestore,       reg::kind::kWriteMismatch};
        for (std::size_t k = 0; k < std::size(kinds); ++k)
            c.versions.push_back({k % 3, "2026-0" + std::to_string(k + 1) + "-15T10:20:30.040Z",
                                  kinds[k], "/dev/ttyUSB0", "0.1.0",
                                  k == 0 ? "pierwsza wersja" : "2 ustawienia",
                                  k % 2 ? valid : readImage});
        put("fuzz_register_import", "kinds-and-owners", of(reg::encodeExport(c)));
        reg::ExportContent empty;
        put("fuzz_register_import", "empty-export", of(reg::encodeExport(empty)));
    }
    registerSeed(valid, readImage);
    put("fuzz_receive_step", "timeouts", Ops(1).slow(63).command(2).slow(63).command(3).b);
    put("fuzz_receive_step", "stray-frames",
        Ops(0)
            .raw({0xAA, 0x01, 0x01})
            .reply(3, block(3))
            .ack(7)
            .command(1)
            .ack(7)
            .reply(0, block(0))
            .b);
    return 0;
}
