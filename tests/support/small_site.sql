-- A small site that every phase has work on: three terminals (one of the
-- balance model 5830-020, two of terminal application list A), access and
-- time-recording entries, badges with booking classes (one blocked, one
-- expired, one without balance values), balance tables in normal and
-- value-only layout, their texts in two languages, and balance values.
INSERT INTO qvsystem.qvs113sto (stonum, stoktx) VALUES ('S1', 'Werk 1'), ('S2', 'Werk 2');

INSERT INTO qvsystem.qvs1140trm (trmnam, trmsal, trmspr, trmliz, trmmnd, trmmod, trmapp) VALUES
    ('T1', 'SAL1', 1, 'LZ1', 'MD1', '5830-010', '5820-301A'),
    ('T2', 'SAL2', 2, 'LZ1', 'MD1', '5830-020', '4917-100'),
    ('T3', 'SAL1', 2, 'LZ1', 'MD1', '5830-010', '5820-355');

INSERT INTO qvsystem.mgsst35p (m35trm, m35bkl, m35bch, m35les, m35fir) VALUES
    ('T1', 'Z1', 0, '01', '001'), ('T1', 'Z2', 0, '02', '001'), ('T1', 'Z3', 0, '01', '001'),
    ('T1', 'K1', 1, '03', '001'), ('T2', 'Z1', 0, '01', '001'), ('T2', 'K1', 1, '02', '001'),
    ('T3', 'K1', 1, '01', '001'), ('T3', 'Z2', 0, '04', '001'), ('T3', 'Z9', 0, '04', '002');

INSERT INTO qvsystem.qvs301asw
    (aswnum, aswgvo, aswgbi, aswatp, aswaan, aswsal, aswpin, aswpnr, aswnam, aswcod, aswsto)
VALUES
    ('B1', CURRENT_DATE - 10, NULL, 1, 'A1', '', '1111', 'P1', 'Muster, Max', NULL, 'S1'),
    ('B2', CURRENT_DATE - 10, CURRENT_DATE + 30, 2, 'A2', 'SALX', '2222', 'P2', 'Kurz, Eva', 0, 'S1'),
    ('B3', CURRENT_DATE - 3, NULL, 3, 'A3', '', '3333', 'P3', 'Lang, Otto', NULL, 'S2'),
    ('B4', CURRENT_DATE - 10, NULL, 4, 'A4', '', '4444', 'P4', 'Sperr, Ida', 8, 'S1'),
    ('B5', CURRENT_DATE - 10, CURRENT_DATE - 1, 5, 'A5', '', '5555', 'P5', 'Alt, Udo', NULL, 'S1'),
    ('B6', CURRENT_DATE - 10, NULL, 6, 'A6', '', '6666', 'P6', 'O''Brien, Sean', NULL, 'S2');

INSERT INTO qvsystem.qvs301awb (awbasw, awbbkl) VALUES
    ('B1', 'Z1'), ('B1', 'Z3'), ('B1', 'K1'), ('B2', 'Z2'), ('B2', 'K1'), ('B3', 'K1'),
    ('B4', 'Z1'), ('B5', 'Z1'), ('B5', 'K1'), ('B6', 'Z2'), ('B6', 'K1'), ('B6', 'Z9');

INSERT INTO qvsystem.qvs119mst (mstnam, mstliz, mstmnd, mstttp) VALUES
    ('SALX', 'LZ1', 'MD1', '5830-060'), ('SAL1', 'LZ1', 'MD1', '5830-010');

-- SAL1: normal layout with a type-17 line; SAL2: value-only layout (line 3
-- of type 17); SALX: two lines, one of them shared by every data key.
INSERT INTO qvsystem.qvs119msd (msdsal, msdliz, msdmnd, msdlfd, msdtxt, msdanz, msdwrt, msderf)
VALUES
    ('SAL1', 'LZ1', 'MD1', 1, 'Datum', 0, 1, ''), ('SAL1', 'LZ1', 'MD1', 2, '', 1, 2, ''),
    ('SAL1', 'LZ1', 'MD1', 3, 'Saldo', 0, 5, ''), ('SAL1', 'LZ1', 'MD1', 4, 'Urlaub', 0, 17, ''),
    ('SAL1', 'LZ1', 'MD1', 6, 'Frei', 0, 21, ''), ('SAL1', 'LZ1', 'MD1', 7, 'Rest', 0, 9, ''),
    ('SAL2', 'LZ1', 'MD1', 1, 'Konto', 0, 2, ''), ('SAL2', 'LZ1', 'MD1', 2, 'Gleit', 0, 9, ''),
    ('SAL2', 'LZ1', 'MD1', 3, 'Urlaub', 0, 17, ''),
    ('SALX', 'LZ1', 'MD1', 1, 'Eigen', 0, 3, ''), ('SALX', 'ZZ', 'ZZ', 2, 'Alle', 0, 22, 'VORMANT');

INSERT INTO qvsystem.qvs102whl (ftxnumspr, ftxwhl, ftxspr, ftxt30, ftxt50) VALUES
    (220001, 1, 1, 'Std', 'Stunden'), (220001, 1, 2, 'Hrs', 'Hours'),
    (220002, 1, 1, 'Datum', ''), (220002, 2, 1, 'Konto', ''), (220002, 5, 1, 'Saldo', ''),
    (220002, 2, 2, 'Account', ''), (220002, 9, 2, 'Flexi', '');

INSERT INTO qvsystem.o2002tsw (tswidn, tsww01, tsww02, tsww03, tsww05, tsww07, tsww08, tsww09,
                               tswf01, tswf02)
VALUES
    ('B1', '20261207', '+   12,50', '-    1,00', '-    3,25', '+  12345', '-    987', '+     7',
     'frei', 'Feiertag'),
    ('B2', '20260101', '-    0,50', '+    2,00', '+   10,00', '+     12', '+  54321', '-    2',
     '', 'Spaet'),
    ('B6', '', '+      ', '', '-   99,99', '', '', '', 'x', '');
