-- A small site for the demo run: two terminals, four badges.
INSERT INTO qvsystem.qvs113sto (stonum, stoktx) VALUES ('100', 'HQ'), ('200', 'LAG');

INSERT INTO qvsystem.qvs1140trm (trmnam, trmsal, trmspr, trmliz, trmmnd, trmmod) VALUES
    ('EINGANG-NORD', 'SAL01', 1, 'L0001', 'M0001', '5830-020'),
    ('LAGER-TOR', 'SAL02', 1, 'L0001', 'M0001', '5830-010');

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

INSERT INTO qvsystem.o2002tsw (tswidn, tsww02) VALUES ('1001', '+0001234567'), ('1002', '-0000000815');

INSERT INTO qvsystem.qvs119mst (mstnam, mstliz, mstmnd, mstttp) VALUES ('BS60', 'L0001', 'M0001', '5830-060');
