// Fixed lines of the run log that many tests expect, as the runner and the
// fixtures give them back (without their timestamps).
#pragma once

constexpr const char* kStars = "**********";
constexpr const char* kStart = ">>> QV Downloadaufbereitung (Vendrak) - Beginn <<<";
constexpr const char* kEnd = ">>> QV Downloadaufbereitung (Vendrak) - Ende <<<";
constexpr const char* kFailed = "Bei der Downloadaufbereitung trat ein Fehler auf.";
constexpr const char* kReconnected = "Die Verbindung zur Datenbank wurde wiederhergestellt!";

// A reconnection that succeeds at its first try, as its two lines.
constexpr const char* kReconnectedAtOnce[] = {
    "Versuch Nr. 1 zur Wiederherstellung der Datenbankverbindung!", kReconnected};

// The end of a run stopped by SIGTERM and by SIGINT.
constexpr const char* kStoppedBy[] = {"Der Lauf wurde durch das Signal SIGTERM abgebrochen.",
                                      "Der Lauf wurde durch das Signal SIGINT abgebrochen."};
