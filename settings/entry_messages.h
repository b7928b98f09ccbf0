#pragma once
// What the editors say when an entry is refused while it is typed (UTF-8),
// word for word as the user sees it, blanks and spelling included. The editor
// windows show these in their boxes; trellikon-cli prints the same words when
// it edits a template, so that both speak with one voice.

#include "settings_image.h"

#include <cstddef>

namespace trellikon::messages {

// Parameters editor: telephone numbers.
inline constexpr const char* kUserTooLong[4] = {
    "Za duża liczba cyfr w definicji numeru użytkownika 1",
    "Za duża liczba cyfr w definicja uytkownika 2",
    "Za duża liczba cyfr w definicji uzytkownika 3",
    "Za duża liczba cyfr w definicji użytkownika 4",
};
inline constexpr const char* kDigitsOnly = "Numer powinien zawierać tylko cyfry";
inline constexpr const char* kDigitsOnlyUser2 = "Numer powinien zawierać tylko cyfry  ";
inline constexpr const char* kTestSmsUser =
    "zmień index uzytkownika do którego wysyłany jest SMS testowy";
inline constexpr const char* kCentreTooLong = "Za duża liczba cyfr w definicji Centrum SMS";

// Parameters editor: outputs and limits.
inline constexpr const char* kLimitStartsWithZero =
    "Błąd! Dobowy limit SMS nie może zaczynać sie od liczby 0";
inline constexpr const char* kLimitRange =
    "Błąd! Dobowy limit SMS musi zawierać się w przedziale od 1 do 9999";
inline constexpr const char* kOutputRange[2] = {
    "Błąd! Automatyczne wysterowanie wyjscia 1 musi zawierać się w przedziale od 1 do 999 "
    "sekund.",
    "Błąd! Automatyczne wysterowanie wyjscia 2 musi zawierać się w przedziale od 1 do 999 "
    "sekund.",
};

// Parameters editor: balance reporting.
inline constexpr const char* kCodeTooLong =
    "Za duża liczba znaków w definicji numeru badania stanu konta";
inline constexpr const char* kCodeFirst = "Zdefiniuj najpierw numer badania stanu konta";
inline constexpr const char* kCountAtLeast10 =
    "Błąd! Ilościowe informowanie o stanie konta ma zawierać się w przedziale od 10 do 9999";
inline constexpr const char* kCountAtMost9999 =
    "Błąd! Ilościowe informowanie o stanie konta nie może przekraczać 9999 SMS";
inline constexpr const char* kDaysRange =
    "Błąd! Czasowe informowanie o stanie konta musi zawierać sie w przedziale od 1 do 999 dni";
inline constexpr const char* kDaysNotNumber =
    "Błąd! Czasowe informowanie o stanie konta musi zawierać się w przedziale od 1 do 999 dni";

// Alarm texts editor: the test message's user index.
inline constexpr const char* kIndexRange =
    "Index użytkownika - pozycja na której użytkownik zapisany jest w "
    "systemie ma zawierać się w przedziałe od 1 do 4 ";
inline constexpr const char* kDefineUserFirst[4] = {
    "Zdefiniuj najpierw użytkownika numer 1",
    "Zdefiniuj najpierw użytkownika numer 2",
    "Zdefiniuj najpierw użytkownika numer 3",
    "Zdefiniuj najpierw użytkownika numer 4",
};

// Alarm texts editor: each text box's two refusals, in slot order.
inline constexpr const char* kHeaderTooLong =
    "Definicja treści nagłówka komunikatu alarmowego nie moze przekraczać 50 znaków";
inline constexpr const char* kHeaderForbidden =
    "Definicja treści nagłówka komunikatu alarmowego nie może zawierać polskich znaków";
inline constexpr const char* kAlarmTooLong =
    "Definicja treści komunikatu alarmowego nie moze przekraczać 100 znaków";
inline constexpr const char* kAlarmForbidden =
    "Definicja treści komunikatu alarmowego nie może zawierać polskich znaków";
inline constexpr const char* kAlarmForbiddenTwoBlanks =
    "Definicja treści  komunikatu alarmowego nie może zawierać polskich znaków";
inline constexpr const char* kPowerLossForbidden =
    "Definicja treści treści komunikatu alarmowego nie może zawierać polskich znaków";
inline constexpr const char* kTestTooLong =
    "Definicja treści komunikatu testowego nie moze przekraczać 100 znaków";
inline constexpr const char* kTestForbidden =
    "Definicja treści komunikatu testowego nie może zawierać polskich znaków";

inline constexpr const char* kTextTooLong[layout::kTextSlotCount] = {
    kHeaderTooLong, kAlarmTooLong, kAlarmTooLong, kAlarmTooLong, kAlarmTooLong,
    kAlarmTooLong,  kAlarmTooLong, kAlarmTooLong, kAlarmTooLong, kAlarmTooLong,
    kAlarmTooLong,  kAlarmTooLong, kAlarmTooLong, kAlarmTooLong, kTestTooLong,
};
inline constexpr const char* kTextForbidden[layout::kTextSlotCount] = {
    kHeaderForbidden,         kPowerLossForbidden,      kAlarmForbidden,
    kAlarmForbidden,          kAlarmForbiddenTwoBlanks, kAlarmForbiddenTwoBlanks,
    kAlarmForbiddenTwoBlanks, kAlarmForbiddenTwoBlanks, kAlarmForbidden,
    kAlarmForbidden,          kAlarmForbidden,          kAlarmForbidden,
    kAlarmForbiddenTwoBlanks, kAlarmForbiddenTwoBlanks, kTestForbidden,
};

// Subscriber list.
inline constexpr const char* kNotElevenDigits = "Numer powinien zawierać 11 cyfr";
inline constexpr const char* kAlreadyListed = "Abonent o podanym numerze istnieje";
inline constexpr const char* kListFull = "Abonenta nie zapisano. Przepełnienie pamięci";
inline constexpr const char* kAddedAt = "Zapisano abonenta na pozycji: ";
inline constexpr const char* kTypedNotNumber = "Numer powinien 11 cyfr";
inline constexpr const char* kNotListed = "Abonent o podanym numerze nie istnieje";
inline constexpr const char* kRemovedFrom = "Usunięto abonenta z pozycji: ";

} // namespace trellikon::messages
