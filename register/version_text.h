#pragma once
// What the register derives from a version's 4096 bytes: the phone numbers it
// is searched by, the one-line summary against the version before it, and the
// words and times it shows.

#include "register_types.h"

#include <chrono>
#include <string>
#include <vector>

namespace trellikon::reg {

enum class NumberRole { SmsCentre, User, Caller };

struct PhoneEntry {
    NumberRole role = NumberRole::Caller;
    int position = 0;   // user 1..4, caller 1..168; 0 for the SMS centre
    std::string number; // digits only
};

// The numbers whose check holds: the SMS centre, the four users, every caller.
std::vector<PhoneEntry> phoneNumbers(const Bytes& bytes);
// "centrum SMS", "użytkownik 2", "abonent CLIP 43".
std::string roleText(NumberRole role, int position);
// The role as stored in the register ("sms", "user", "clip").
const char* roleKey(NumberRole role);
std::optional<NumberRole> roleFromKey(std::string_view key);

// Polish count with its noun: 1 ustawienie, 2 ustawienia, 5 ustawień.
std::string countOf(int n, const char* one, const char* few, const char* many);

// "2 ustawienia, 3 abonentów CLIP"; "bez zmian"; "pierwsza wersja" without a previous one.
std::string summaryLine(const Bytes* previous, const Bytes& now);

// How alike two reads look as the same device: the same number in the same
// role and position counts most, a number anywhere else less; a shared SMS
// centre (an operator's, common to many sites) least.
int closeness(const std::vector<PhoneEntry>& a, const std::vector<PhoneEntry>& b);

// The digits of a search text when it reads as a phone number (at least three
// digits, nothing but digits, blanks, "+", "-", "(", ")"), with a leading "00"
// dropped; empty otherwise.
std::string searchedNumber(std::string_view text);

// The time now, "YYYY-MM-DDTHH:MM:SS.mmmZ" (UTC).
std::string nowUtc();
// A moment in the same form.
std::string utcTime(std::chrono::system_clock::time_point moment);
// A stored time as "YYYY-MM-DD HH:MM"; anything malformed as it is, made safe.
std::string shortTime(const std::string& timeUtc);
// Lower case for ASCII and the Polish letters, for searching names and notes.
std::string foldCase(std::string_view utf8);
// Whether a time is one nowUtc() could have written.
bool wellFormedTime(std::string_view t);

} // namespace trellikon::reg
