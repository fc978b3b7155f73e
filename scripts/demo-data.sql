-- A small site for the demo run: two terminals, four badges, two balance tables.
INSERT INTO qvsystem.qvs113sto (stonum, stoktx) VALUES ('100', 'HQ'), ('200', 'LAG');

INSERT INTO qvsystem.qvs1140trm (trmnam, trmsal, trmspr, trmliz, trmmnd, trmmod, trmapp) VALUES
    ('EINGANG-NORD', 'SAL01', 1, 'L0001', 'M0001', '5830-020', '5820-301'),
    ('LAGER-TOR', 'SAL02', 1, 'L0001', 'M0001', '5830-010', '5830-010');

INSERT INTO qvsystem.mgsst35p (m35trm, m35bkl, m35bch, m35les, m35fir) VALUES
    ('EINGANG-NORD', 'Z01', 0, '01', '001'),
    ('EINGANG-NORD', 'Z01', 0, '02', '001'),
    ('EINGANG-NORD', 'K01', 1, '01', '001'),
    ('LAGER-TOR', 'Z02', 0, '03', '001');

INSERT INTO qvsystem.qvs301asw
    (aswnum, aswgvo, aswgbi, aswatp, aswaan, aswsal, aswpin, aswpnr, aswnam, aswcod, aswsto) VALUES
    ('1001', CURRENT_DATE - 100, NULL, 1, '', 'BS60', '4711', '0001', 'Muster, Erika', NULL, '100'),
    ('1002', CURRENT_DATE - 10, CURRENT_DATE + 30, 1, '', '', '0815', '0002', 'O''Brien, Sean', 0, '100'),
    ('1003', CURRENT_DATE - 10, NULL, 1, '', '', '1234', '0003', 'Lagerist', 0, '200'),
    ('1004', CURRENT_DATE - 10, NULL, 1, '', '', '9999', '0004', 'Gesperrt, Gustav', 8, '100');

INSERT INTO qvsystem.qvs301awb (awbasw, awbbkl) VALUES
    ('1001', 'Z01'), ('1001', 'K01'), ('1002', 'K01'), ('1003', 'Z02'), ('1004', 'Z01');

INSERT INTO qvsystem.o2002tsw (tswidn, tsww01, tsww02, tsww03, tswf01) VALUES
    ('1001', '20240315', '+0001234567', '-    12,50', 'Gut'),
    ('1002', '20240314', '-0000000815', '+     3,00', 'Bitte melden');

INSERT INTO qvsystem.qvs119mst (mstnam, mstliz, mstmnd, mstttp) VALUES ('BS60', 'L0001', 'M0001', '5830-060');

-- Balance table lines: SAL01 for its own data keys, BS60 for every pair of
-- keys (VORMANT); labels from the line or from the standard labels.
INSERT INTO qvsystem.qvs119msd (msdsal, msdliz, msdmnd, msdlfd, msdtxt, msdanz, msdwrt, msderf) VALUES
    ('SAL01', 'L0001', 'M0001', 1, 'Gleitzeit', 1, 3, 'DEMO'),
    ('SAL01', 'L0001', 'M0001', 2, '', 2, 1, 'DEMO'),
    ('SAL01', 'L0001', 'M0001', 3, '', 1, 21, 'DEMO'),
    ('BS60', 'X', 'X', 1, 'Saldo', 1, 3, 'VORMANT');

INSERT INTO qvsystem.qvs102whl (ftxnumspr, ftxwhl, ftxspr, ftxt30, ftxt50) VALUES
    (220001, 1, 1, 'Saldo', 'Saldo'),
    (220001, 2, 1, 'Stand', 'Stand vom'),
    (220002, 1, 1, 'Datum', 'Datum'),
    (220002, 3, 1, 'Gleitzeit', 'Gleitzeit');
