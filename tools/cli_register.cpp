#include "cli_register.h"

#include "checked_write.h"
#include "files.h"
#include "register_file.h"
#include "register_location.h"
#include "version_text.h"
#include "write_decision.h"

#include <algorithm>
#include <ostream>

#ifndef TRELLIKON_VERSION
#define TRELLIKON_VERSION ""
#endif

namespace trellikon::cli {

std::string plain(const std::string& s) {
    std::string out = s;
    for (char& c : out)
        if (static_cast<unsigned char>(c) < 0x20 || c == 0x7F)
            c = ' ';
    return out;
}

namespace {

using Bytes = SettingsImage::Bytes;

// A word as a POSIX shell takes it back: quoted unless it is plain.
std::string shellWord(const std::string& s) {
    const bool plainWord =
        !s.empty() && s.find_first_not_of("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz"
                                          "0123456789/._-:+=") == std::string::npos;
    if (plainWord)
        return s;
    std::string quoted = "'";
    for (const char c : plain(s))
        quoted += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return quoted + "'";
}

std::optional<reg::Id> versionId(const std::string& text) {
    if (text.empty() || text.size() > 18 ||
        text.find_first_not_of("0123456789") != std::string::npos)
        return std::nullopt;
    return std::stoll(text);
}

} // namespace

std::unique_ptr<reg::Register> openRegister(const RegisterChoice& choice, bool change,
                                            std::ostream& err, int& code) {
    code = kExitOk;
    reg::OpenOptions options;
    options.readOnly = !change;
    auto result = reg::openRegister(reg::registerPath(choice.path), options);
    if (!result.ok()) {
        code = fail(err, result.failure);
        return nullptr;
    }
    std::unique_ptr<reg::Register> opened = std::move(result.value);
    if (change && !opened->writable()) {
        code = fail(err, registerFailure(opened->notice()));
        return nullptr;
    }
    if (!opened->notice().empty())
        err << kProgramName << ": " << opened->notice() << '\n';
    return opened;
}

int TransferRecord::open(const RegisterChoice& choice, std::ostream& err) {
    choice_ = choice;
    if (choice.mode != RegisterChoice::Record)
        return kExitOk;
    int code = kExitOk;
    std::unique_ptr<reg::Register> opened = openRegister(choice, true, err, code);
    if (!opened)
        return code;
    reg::Register& r = *opened;
    // The journal opens its register when first asked: here, the one just opened.
    auto held = std::make_shared<std::unique_ptr<reg::Register>>(std::move(opened));
    journal_ = std::make_unique<reg::Journal>(
        [held] {
            return reg::Result<std::unique_ptr<reg::Register>>{std::move(*held), {}};
        },
        TRELLIKON_VERSION);
    journal_->store();
    if (choice.installation.empty())
        return kExitOk;
    const auto found = r.installationNamed(choice.installation);
    if (!found.ok())
        return fail(err, found.failure);
    if (found.value) {
        useInstallation(found.value->id, choice.installation);
        return kExitOk;
    }
    const auto created = r.createInstallation(choice.installation, {}, {});
    if (!created.ok())
        return fail(err, created.failure);
    useInstallation(created.value, choice.installation);
    err << "Nowa instalacja w rejestrze: „" << plain(choice.installation) << "”\n";
    return kExitOk;
}

void TransferRecord::useInstallation(reg::Id id, const std::string& name) {
    installation_ = id;
    choice_.installation = name;
    if (journal_)
        journal_->keep(id);
}

int TransferRecord::tell(const reg::Result<reg::Id>& stored, const char* kind, std::ostream& err) {
    if (!stored.ok())
        return fail(err,
                    registerFailure("nie można odnotować w rejestrze: " + stored.failure.message));
    err << "Rejestr: wersja " << stored.value << " (" << kind << ", "
        << (installation_ ? "instalacja „" + plain(choice_.installation) + "”"
                          : std::string(reg::kUnassigned))
        << ")\n";
    return kExitOk;
}

int TransferRecord::tellRead(const Bytes& bytes, std::ostream& err) {
    if (!journal_)
        return kExitOk;
    if (const int rc = tell(journal_->lastRead(), reg::kind::kRead, err); rc != kExitOk)
        return rc;
    if (installation_ == 0) {
        const auto proposals = journal_->store()->propose(bytes);
        if (proposals.ok() && !proposals.value.empty())
            err << "Najbliższa instalacja w rejestrze: „" << plain(proposals.value.front().name)
                << "” (przy następnym odczycie podaj --installation)\n";
    }
    return kExitOk;
}

void TransferRecord::tellBackup(std::ostream& err) {
    // Only a committed backup is told: one the disk refused is not in the register.
    if (journal_ && journal_->lastBackup().ok() && journal_->lastBackup().value != 0)
        err << "Kopia zapasowa w rejestrze: wersja " << journal_->lastBackup().value << '\n';
}

int TransferRecord::tellWrite(std::ostream& err) {
    if (!journal_)
        return kExitOk;
    return tell(journal_->lastWrite(), journal_->lastWriteKind(), err);
}

void TransferRecord::tellInterrupted(std::int64_t version, const std::string& port,
                                     std::ostream& err) {
    tellWrite(err);
    if (version <= 0)
        return;
    err << "Przywrócenie kopii sprzed zapisu, gdy kabel będzie znów podłączony:\n  " << kProgramName
        << " restore"
        << (choice_.path.empty() ? std::string() : " --register " + shellWord(choice_.path)) << ' '
        << version << ' ' << shellWord(port) << '\n';
}

namespace {

// Where the read-back first differs from what was sent, by block and byte.
std::string mismatchText(const Bytes& sent, const Bytes& back) {
    const auto mismatch = std::mismatch(sent.begin(), sent.end(), back.begin());
    const auto offset = static_cast<std::size_t>(mismatch.first - sent.begin());
    const std::size_t block = offset / layout::kBlockSize;
    return "weryfikacja nie powiodła się: blok " + std::to_string(block + 1) + " z " +
           std::to_string(layout::kBlockCount) + " (bajty " +
           std::to_string(block * layout::kBlockSize) + "–" +
           std::to_string((block + 1) * layout::kBlockSize - 1) +
           ") różni się od pliku, pierwszy różny bajt: " + std::to_string(offset);
}

} // namespace

int writeToDevice(const std::string& portName, const Bytes& bytes, const TransferOptions& options,
                  TransferRecord& record, SerialPort& port, TickClock& clock, std::ostream& err,
                  const std::optional<reg::VersionInfo>& restoring) {
    DeviceSession session(port, clock, err, options.fast);
    session.useStore(record.store());
    checked::WriteRequest request;
    request.settings = bytes;
    request.parts = options.parts;
    request.restoring = restoring;
    checked::WriteDecision decision(record.journal(), std::move(request));
    // The installation's latest version as it stands before this write's backup joins it.
    if (const Failure f = decision.begin(); !f.ok())
        return fail(err, f);
    if (Failure r = connectRemembering(session, portName, options, err); !r.ok())
        return fail(err, r);
    if (record.refused())
        err << kProgramName << ": zapis bez kopii zapasowej w rejestrze (--no-register)\n";
    const bool partOnly = decision.parts() != checked::kAllParts;
    if (partOnly && !record.store()) {
        // A part alone goes over what the device holds, so that is read even
        // without a register: the session takes this read as the device's content.
        err << "Odczyt ustawień z urządzenia (zapis części: " << checked::partsText(options.parts)
            << ")\n";
        Bytes present{};
        if (Failure r = session.read(present); !r.ok())
            return fail(err, concerning({}, r, "; nic nie zostało zapisane do urządzenia"));
    }
    // Nothing leaves for the device before its present content is stored.
    session.backupBegins = [&err] { err << "Kopia zapasowa: odczyt ustawień z urządzenia\n"; };
    session.verifyBegins = [&err] { err << "Weryfikacja: odczyt ustawień z urządzenia\n"; };
    session.decide = [&](const std::optional<Bytes>& present, Bytes& toWrite) -> Failure {
        using Answer = checked::WriteDecision::Answer;
        const checked::WriteDecision::Question& q = decision.question(present);
        if (q.kind == checked::WriteDecision::Question::Kind::ChangedOnSite) {
            err << checked::renderChangedOnSite(q.changed);
            // Nothing is recorded either: the next attempt asks again.
            if (!options.force) {
                decision.answer(Answer::Cancel, portName);
                return makeFailure(Failure::Code::ChangedOnSite,
                                   "ustawienia instalacji „" + plain(q.installationName) + "” " +
                                       checked::sinceLine(q.changed) +
                                       "; nic nie zostało zapisane do urządzenia (zapis mimo to: "
                                       "--force)");
            }
            err << kProgramName << ": --force: zapis mimo zmian w urządzeniu\n";
        }
        toWrite = decision.answer(Answer::Write, portName).toWrite;
        if (partOnly && present)
            err << "Zapis części: " << checked::partsText(options.parts)
                << "; pozostałe ustawienia bez zmian, jak w urządzeniu\n";
        return {};
    };
    const Failure written = session.write(bytes, options.verify);
    record.tellBackup(err);
    if (session.interrupted()) {
        // The device holds part of what was sent: the register knows it, and
        // the installer gets the way back.
        const int code = fail(err, written);
        record.tellInterrupted(session.backupVersion(), portName, err);
        return code;
    }
    if (!written.ok()) {
        // Written but not seen back: recorded as a write no one checked.
        if (session.sentWhole())
            record.tellWrite(err);
        return fail(err, written);
    }
    if (!options.verify)
        return record.tellWrite(err);
    const checked::Verification v = decision.verdict(session.sent(), *session.readBack());
    if (const int rc = record.tellWrite(err); rc != kExitOk)
        return rc;
    if (!v.same) {
        err << comparison::renderText(v.differences, "wysłane", "urządzenie");
        return fail(err, makeFailure(Failure::Code::VerifyDifferent,
                                     mismatchText(session.sent(), *session.readBack())));
    }
    err << "Weryfikacja zakończona: urządzenie zawiera zapisany plik\n";
    return kExitOk;
}

int runInstallations(const RegisterChoice& choice, const std::string& search, std::ostream& out,
                     std::ostream& err) {
    int code = kExitOk;
    const auto r = openRegister(choice, false, err, code);
    if (!r)
        return code;
    const auto found = r->installations(search);
    if (!found.ok())
        return fail(err, found.failure);
    for (const reg::Found& f : found.value) {
        const reg::Installation& i = f.installation;
        out << plain(i.name) << "  " << reg::countOf(i.versions, "wersja", "wersje", "wersji")
            << "  ostatnia wizyta "
            << (i.lastVisitUtc.empty() ? std::string("-") : reg::shortTime(i.lastVisitUtc)) << '\n';
        for (const std::string& m : f.matches)
            out << "    " << plain(m) << '\n';
    }
    return kExitOk;
}

int runHistory(const RegisterChoice& choice, const std::string& name, std::ostream& out,
               std::ostream& err) {
    int code = kExitOk;
    const auto r = openRegister(choice, false, err, code);
    if (!r)
        return code;
    reg::HistoryFilter filter;
    if (!name.empty()) {
        const auto found = r->installationNamed(name);
        if (!found.ok())
            return fail(err, found.failure);
        if (found.value) {
            filter.which = reg::HistoryFilter::OfInstallation;
            filter.installationId = found.value->id;
        } else if (name == reg::kUnassigned) {
            filter.which = reg::HistoryFilter::Unassigned;
        } else {
            return fail(err, usageFailure("w rejestrze nie ma instalacji „" + name + "”"));
        }
    }
    const auto versions = r->history(filter);
    if (!versions.ok())
        return fail(err, versions.failure);
    for (const reg::VersionInfo& v : versions.value)
        out << v.id << "  " << reg::shortTime(v.timeUtc) << "  " << plain(v.kind) << "  "
            << plain(v.installationName) << "  " << plain(v.summary) << '\n';
    return kExitOk;
}

namespace {

// The version ID names, or nothing (the reason printed).
std::optional<reg::Version> recordedVersion(reg::Register& r, const std::string& id,
                                            std::ostream& err) {
    const auto number = versionId(id);
    if (!number) {
        fail(err, usageFailure("„" + id + "” nie jest numerem wersji"));
        return std::nullopt;
    }
    const auto v = r.version(*number);
    if (!v.ok()) {
        fail(err, v.failure);
        return std::nullopt;
    }
    if (!v.value)
        fail(err, usageFailure("w rejestrze nie ma wersji " + id));
    return v.value;
}

} // namespace

int runVersion(const RegisterChoice& choice, const std::string& id, const std::string& outPath,
               std::ostream& err) {
    int code = kExitOk;
    const auto r = openRegister(choice, false, err, code);
    if (!r)
        return code;
    const auto v = recordedVersion(*r, id, err);
    if (!v)
        return kExitUsage;
    if (const Failure e =
            saveFileAtomically(outPath, v->bytes.data(), v->bytes.size(), FileAccess::Private))
        return fail(err, concerning("nie można zapisać pliku „" + outPath + "”: ", e));
    err << "Zapisano wersję " << id << " do „" << outPath << "”\n";
    return kExitOk;
}

int runRestore(const RegisterChoice& choice, const std::string& id, const std::string& portName,
               const TransferOptions& options, SerialPort& port, TickClock& clock,
               std::ostream& err) {
    RegisterChoice recording = choice;
    recording.mode = RegisterChoice::Record;
    recording.installation.clear();
    TransferRecord record;
    if (const int rc = record.open(recording, err); rc != kExitOk)
        return rc;
    int code = kExitOk;
    const auto r = openRegister(recording, false, err, code);
    if (!r)
        return code;
    const auto v = recordedVersion(*r, id, err);
    if (!v)
        return kExitUsage;
    record.useInstallation(v->info.installationId, v->info.installationName);
    return writeToDevice(portName, v->bytes, options, record, port, clock, err, v->info);
}

int runRegisterExport(const RegisterChoice& choice, const std::string& outPath,
                      const std::string& name, std::ostream& err) {
    int code = kExitOk;
    const auto r = openRegister(choice, false, err, code);
    if (!r)
        return code;
    reg::Id which = 0;
    if (!name.empty()) {
        const auto found = r->installationNamed(name);
        if (!found.ok())
            return fail(err, found.failure);
        if (!found.value)
            return fail(err, usageFailure("w rejestrze nie ma instalacji „" + name + "”"));
        which = found.value->id;
    }
    const auto data = r->exportData(which);
    if (!data.ok())
        return fail(err, data.failure);
    const auto* bytes = reinterpret_cast<const std::uint8_t*>(data.value.data());
    if (const Failure e =
            saveFileAtomically(outPath, bytes, data.value.size(), FileAccess::Private))
        return fail(err, concerning("nie można zapisać pliku „" + outPath + "”: ", e));
    err << "Wyeksportowano rejestr do „" << outPath << "”\n";
    return kExitOk;
}

int runRegisterNew(const RegisterChoice& choice, std::ostream& err) {
    const std::string path = reg::registerPath(choice.path);
    if (!path.empty() && reg::fileSize(path) > 0)
        return fail(err, registerFailure("rejestr „" + path +
                                         "” już istnieje: nowy rejestr powstaje tylko w miejscu "
                                         "brakującego albo pustego pliku"));
    reg::OpenOptions options;
    options.createNew = true;
    if (const auto made = reg::openRegister(path, options); !made.ok())
        return fail(err, made.failure);
    err << "Utworzono nowy, pusty rejestr „" << path << "”\n";
    return kExitOk;
}

int runRegisterImport(const RegisterChoice& choice, const std::string& inPath, std::ostream& err) {
    const auto refused = [&](const std::string& why) {
        return fail(err, registerFailure("plik „" + inPath + "” odrzucony: " + why +
                                         "; rejestr nie został zmieniony"));
    };
    // The header and the size first: a foreign or oversized file is refused
    // before the register is opened and before the rest of it is read.
    reg::ExportFile file;
    if (const Failure f = file.open(inPath))
        return fail(err, concerning("nie można odczytać pliku „" + inPath + "”: ", f));
    if (const std::string e = reg::ExportReader(file).header(); !e.empty())
        return refused(e);
    if (!file.rewind())
        return refused("nie można ponownie odczytać pliku: " + file.failure());
    int code = kExitOk;
    const auto r = openRegister(choice, true, err, code);
    if (!r)
        return code;
    const auto report = r->importFrom(file);
    if (!report.ok())
        return refused(report.failure.message);
    const reg::ImportReport& n = report.value;
    err << "Zaimportowano: "
        << reg::countOf(n.installationsAdded, "nowa instalacja", "nowe instalacje",
                        "nowych instalacji")
        << ", " << reg::countOf(n.versionsAdded, "nowa wersja", "nowe wersje", "nowych wersji")
        << "; już w rejestrze: " << reg::countOf(n.versionsKnown, "wersja", "wersje", "wersji")
        << '\n';
    return kExitOk;
}

} // namespace trellikon::cli
