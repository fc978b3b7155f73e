#include "download/content_digest.h"

#include <cstdio>
#include <cstring>

UnitDigestRecord UnitDigest;

namespace {

constexpr uint64_t kFnvOffset = 14695981039346656037ull;
constexpr uint64_t kFnvPrime = 1099511628211ull;

uint64_t hashBytes(uint64_t hash, const void* bytes, std::size_t length) {
    const unsigned char* p = static_cast<const unsigned char*>(bytes);
    for (std::size_t i = 0; i < length; ++i)
        hash = (hash ^ p[i]) * kFnvPrime;
    return hash;
}

// The value's length goes in first, so that no two splits of the same
// characters into columns give the same hash.
uint64_t hashValueText(uint64_t hash, const char* text, std::size_t length) {
    const uint64_t prefix = length;
    return hashBytes(hashBytes(hash, &prefix, sizeof prefix), text, length);
}

uint64_t hashValue(uint64_t hash, const SqlValue& value) {
    if (value.kind == SqlValue::Kind::Integer) {
        char digits[24];
        int length = std::snprintf(digits, sizeof digits, "%ld", value.integer);
        return hashValueText(hash, digits, length > 0 ? static_cast<std::size_t>(length) : 0);
    }
    const char* text = value.text != nullptr ? value.text : "";
    std::size_t length = std::strlen(text);
    while (length > 0 && text[length - 1] == ' ')
        --length;
    return hashValueText(hash, text, length);
}

// FNV spreads a change of the last bytes poorly over the high bits; the
// finaliser of splitmix64 mixes every bit into every other before the sum.
uint64_t finish(uint64_t hash) {
    hash = (hash ^ (hash >> 30)) * 0xbf58476d1ce4e5b9ull;
    hash = (hash ^ (hash >> 27)) * 0x94d049bb133111ebull;
    return hash ^ (hash >> 31);
}

uint64_t& expected(DownloadTable table) {
    return UnitDigest.expected[static_cast<int>(table)];
}

// The badge row of `key` that a key run's unit knows, nullptr without one.
TrmAswDnlHash* knownBadgeRow(uint64_t key) {
    auto found = UnitDigest.badgeRows.find(key);
    return found != UnitDigest.badgeRows.end() ? &found->second : nullptr;
}

}  // namespace

uint64_t rowHash(SqlValues values) {
    uint64_t hash = kFnvOffset;
    for (const SqlValue& value : values)
        hash = hashValue(hash, value);
    return finish(hash);
}

void beginUnitDigest(bool keyed) {
    UnitDigest.on = true;
    std::memset(UnitDigest.expected, 0, sizeof UnitDigest.expected);
    UnitDigest.keyed = keyed;
    UnitDigest.badgeRows.clear();
}

void unitDigestTakeRow(DownloadTable table, uint64_t hash) {
    if (UnitDigest.on)
        expected(table) += hash;
}

void unitDigestTakeBadgeRow(const TrmAswDnlHash& row) {
    UnitDigest.badgeRows[row.key] = row;
    expected(DownloadTable::TrmAswDnl) += row.rest + row.bookingClasses;
}

void unitDigestTrmAswDnlWritten(const TrmAswDnlHash& row) {
    if (!UnitDigest.on)
        return;
    uint64_t& digest = expected(DownloadTable::TrmAswDnl);
    digest += row.rest + row.bookingClasses;
    if (!UnitDigest.keyed)
        return;
    TrmAswDnlHash* known = knownBadgeRow(row.key);
    if (known == nullptr) {
        UnitDigest.badgeRows[row.key] = row;
        return;
    }
    digest -= known->rest + known->bookingClasses;
    *known = row;
}

void unitDigestBookingClassesSet(uint64_t key, uint64_t bookingClasses) {
    if (!UnitDigest.on)
        return;
    uint64_t& digest = expected(DownloadTable::TrmAswDnl);
    digest += bookingClasses;
    TrmAswDnlHash* known = UnitDigest.keyed ? knownBadgeRow(key) : nullptr;
    if (known == nullptr)
        return;
    digest -= known->bookingClasses;
    known->bookingClasses = bookingClasses;
}
