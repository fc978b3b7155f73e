-- Tables of the test database for DB_SYSTEM=MSSQL, in T-SQL with SQL Server
-- types: the columns of schema.sql, dates as datetime. QVS113STO is a plain
-- table, since the MSSQL texts ask the server for the time (getdate()).
CREATE SCHEMA qvsystem
go
CREATE TABLE qvsystem.qvs1140trm (
    trmnam varchar(300), trmsal varchar(30), trmspr int, trmliz varchar(30),
    trmmnd varchar(30), trmmod varchar(30), trmapp varchar(30));
CREATE TABLE qvsystem.mgsst35p (
    m35trm varchar(300), m35bkl varchar(30), m35bch int, m35les varchar(30),
    m35fir varchar(30));
CREATE TABLE qvsystem.qvs301asw (
    aswnum varchar(100), aswgvo datetime, aswgbi datetime, aswatp int, aswaan varchar(100),
    aswsal varchar(30), aswpin varchar(60), aswpnr varchar(30), aswnam varchar(100),
    aswcod int, aswsto varchar(30));
CREATE TABLE qvsystem.qvs301awb (awbasw varchar(100), awbbkl varchar(30));
CREATE TABLE qvsystem.qvs113sto (stonum varchar(30), stoktx varchar(30));
CREATE TABLE qvsystem.o2002tsw (
    tswidn varchar(100),
    tsww01 varchar(100), tsww02 varchar(100), tsww03 varchar(100), tsww04 varchar(100),
    tsww05 varchar(100), tsww06 varchar(100), tsww07 varchar(100), tsww08 varchar(100),
    tsww09 varchar(100), tsww10 varchar(100), tsww11 varchar(100), tsww12 varchar(100),
    tsww13 varchar(100), tsww14 varchar(100), tsww15 varchar(100), tsww16 varchar(100),
    tswf01 varchar(100), tswf02 varchar(100), tswf03 varchar(100), tswf04 varchar(100),
    tswf05 varchar(100), tswf06 varchar(100), tswf07 varchar(100), tswf08 varchar(100),
    tswf09 varchar(100), tswf10 varchar(100));
CREATE TABLE qvsystem.qvs119mst (
    mstnam varchar(30), mstliz varchar(30), mstmnd varchar(30), mstttp varchar(30));
CREATE TABLE qvsystem.qvs119msd (
    msdsal varchar(30), msdliz varchar(30), msdmnd varchar(30), msdlfd int,
    msdtxt varchar(100), msdanz int, msdwrt int, msderf varchar(30));
CREATE TABLE qvsystem.qvs102whl (
    ftxnumspr int, ftxwhl int, ftxspr int, ftxt30 varchar(60), ftxt50 varchar(100));
CREATE TABLE qvsystem.trmaswdnl (
    dnltrm varchar(300) NOT NULL, dnlsal varchar(30), dnlasw varchar(100) NOT NULL,
    dnlgvo varchar(30), dnlgbi varchar(30), dnlstb varchar(30),
    dnlkze int, dnlkzu int, dnlspr int,
    dnlliz varchar(30), dnlmnd varchar(30), dnlsa1 varchar(30),
    dnll01 varchar(30), dnlb01 varchar(30), dnll02 varchar(30), dnlb02 varchar(30),
    dnll03 varchar(30), dnlb03 varchar(30), dnll04 varchar(30), dnlb04 varchar(30),
    dnll05 varchar(30), dnlb05 varchar(30), dnll06 varchar(30), dnlb06 varchar(30),
    dnll07 varchar(30), dnlb07 varchar(30), dnll08 varchar(30), dnlb08 varchar(30),
    dnll09 varchar(30), dnlb09 varchar(30), dnll10 varchar(30), dnlb10 varchar(30),
    dnll11 varchar(30), dnlb11 varchar(30),
    dnlsto varchar(30), dnlatp int, dnlaan varchar(100),
    dnlpin varchar(60), dnlpnr varchar(30), dnlnam varchar(100),
    CONSTRAINT trmaswdnl_key UNIQUE (dnltrm, dnlasw));
CREATE TABLE qvsystem.aswbkldnl (
    dnltrm varchar(300), dnlasw varchar(100), dnlbkl varchar(30),
    CONSTRAINT aswbkldnl_key UNIQUE (dnltrm, dnlasw, dnlbkl));
CREATE TABLE qvsystem.salaswdnl (
    dnlsal varchar(30), dnlliz varchar(30), dnlmnd varchar(30), dnlspr int,
    dnlasw varchar(100),
    dnlsa1 varchar(100), dnlsa2 varchar(100), dnlsa3 varchar(100), dnlsa4 varchar(100),
    dnlsa5 varchar(100), dnlsa6 varchar(100), dnlsa7 varchar(100), dnlsa8 varchar(100),
    dnlwr1 varchar(100), dnlwr2 varchar(100), dnlwr3 varchar(100), dnlwr4 varchar(100),
    dnlwr5 varchar(100), dnlwr6 varchar(100), dnlwr7 varchar(100), dnlwr8 varchar(100),
    CONSTRAINT salaswdnl_key UNIQUE (dnlsal, dnlliz, dnlmnd, dnlspr, dnlasw));
CREATE TABLE qvsystem.salaswdnl2 (
    dnlsal varchar(30), dnlliz varchar(30), dnlmnd varchar(30), dnlspr int,
    dnlasw varchar(100), dnlwrt varchar(30), dnlval varchar(100),
    CONSTRAINT salaswdnl2_key UNIQUE (dnlsal, dnlliz, dnlmnd, dnlspr, dnlasw, dnlwrt));
CREATE TABLE qvsystem.qvsaswdnl (
    dnlkey varchar(30), dnllfd int, dnlmnd varchar(30), dnlliz varchar(30),
    dnlasw varchar(100), dnlkze int, dnlkzu int, dnlkmp int, dnlsta int,
    dnlerf varchar(100));
-- The indexes of schema.sql, by the same names.
CREATE INDEX site_qvs1140trm_nam ON qvsystem.qvs1140trm (trmnam);
CREATE INDEX site_mgsst35p_trm ON qvsystem.mgsst35p (m35trm, m35bch, m35bkl);
CREATE INDEX site_qvs301asw_num ON qvsystem.qvs301asw (aswnum);
CREATE INDEX site_qvs301awb_asw ON qvsystem.qvs301awb (awbasw, awbbkl);
CREATE INDEX site_o2002tsw_idn ON qvsystem.o2002tsw (tswidn);
CREATE INDEX site_qvs119mst_nam ON qvsystem.qvs119mst (mstnam, mstliz, mstmnd);
CREATE INDEX site_qvs119msd_sal ON qvsystem.qvs119msd (msdsal, msdlfd);
CREATE INDEX site_qvs102whl_num ON qvsystem.qvs102whl (ftxnumspr, ftxwhl, ftxspr);
CREATE INDEX site_qvsaswdnl_key ON qvsystem.qvsaswdnl (dnlkey, dnllfd);
CREATE INDEX site_trmaswdnl_asw ON qvsystem.trmaswdnl (dnlasw);
go
