// What the installation check probes: every table the program reads or
// writes, with every column that its statements name (the download builders
// and the key-driven update). A test compares it with the names in the
// statements of a full rebuild and a key run, so that the check keeps
// covering what a run needs.
#pragma once

struct TableColumns {
    const char* table;
    const char* columns;        // ", "-separated, in the order the probe selects them
    const char* optional = "";  // columns that only some forms of the table have
};

inline constexpr TableColumns kCheckedTables[] = {
    {"QVS1140TRM", "TRMNAM, TRMSAL, TRMSPR, TRMLIZ, TRMMND, TRMMOD, TRMAPP"},
    {"MGSST35P", "M35TRM, M35BKL, M35BCH, M35LES, M35FIR"},
    {"QVS301ASW",
     "ASWNUM, ASWGVO, ASWGBI, ASWATP, ASWAAN, ASWSAL, ASWPIN, ASWPNR, ASWNAM, ASWCOD, ASWSTO"},
    {"QVS301AWB", "AWBASW, AWBBKL"},
    {"QVS113STO", "STONUM, STOKTX"},
    {"O2002TSW",
     "TSWIDN, TSWW01, TSWW02, TSWW03, TSWW04, TSWW05, TSWW06, TSWW07, TSWW08, TSWW09, TSWW10, "
     "TSWW11, TSWW12, TSWW13, TSWW14, TSWW15, TSWW16, TSWF01, TSWF02, TSWF03, TSWF04, TSWF05, "
     "TSWF06, TSWF07, TSWF08, TSWF09, TSWF10"},
    {"QVS119MST", "MSTNAM, MSTLIZ, MSTMND, MSTTTP"},
    {"QVS119MSD", "MSDSAL, MSDLIZ, MSDMND, MSDLFD, MSDTXT, MSDANZ, MSDWRT, MSDERF"},
    {"QVS102WHL", "FTXNUMSPR, FTXWHL, FTXSPR, FTXT30, FTXT50"},
    {"QvsAswDnl", "DnlKey, DnlLfd, DnlMnd, DnlLiz, DnlAsw, DnlKze, DnlKzu, DnlKmp, DnlSta, DnlErf"},
    {"TrmAswDnl",
     "DnlTrm, DnlSal, DnlAsw, DnlGvo, DnlGbi, DnlStb, DnlKze, DnlKzu, DnlSpr, DnlLiz, DnlMnd, "
     "DnlSa1, DnlL01, DnlB01, DnlL02, DnlB02, DnlL03, DnlB03, DnlL04, DnlB04, DnlL05, DnlB05, "
     "DnlL06, DnlB06, DnlL07, DnlB07, DnlL08, DnlB08, DnlL09, DnlB09, DnlL10, DnlB10, DnlL11, "
     "DnlB11, DnlSto, DnlAtp, DnlAan, DnlPin, DnlPnr, DnlNam",
     "DnlPin, DnlPnr, DnlNam"},
    {"SalAswDnl",
     "DnlSal, DnlLiz, DnlMnd, DnlSpr, DnlAsw, DnlSa1, DnlSa2, DnlSa3, DnlSa4, DnlSa5, DnlSa6, "
     "DnlSa7, DnlSa8, DnlWr1, DnlWr2, DnlWr3, DnlWr4, DnlWr5, DnlWr6, DnlWr7, DnlWr8"},
    {"SalAswDnl2", "DnlSal, DnlLiz, DnlMnd, DnlSpr, DnlAsw, DnlWrt, DnlVal"},
    {"AswBklDnl", "DnlTrm, DnlAsw, DnlBkl"},
};
