-- The suite's patient table KUNDER and credentials table NORVENAUSER, with
-- every column the connector reads and writes and a few others a real table
-- has beside them. Plain SQL that SQLite and PostgreSQL both run unchanged;
-- statements end with ";" at the end of a line. Running it again starts over.
DROP TABLE IF EXISTS KUNDER;
CREATE TABLE KUNDER (
    PATIENTNR INTEGER NOT NULL PRIMARY KEY,
    PERSONNR VARCHAR(20),
    F_RNAMN VARCHAR(40),
    EFTERNAMN VARCHAR(40),
    ADRESS VARCHAR(60),
    COADRESS VARCHAR(60),
    POSTNR VARCHAR(10),
    ORT VARCHAR(40),
    KON VARCHAR(1),
    TEL1 VARCHAR(20),
    TEL2 VARCHAR(20),
    TEL3NOT VARCHAR(60),
    KONTROLLNR VARCHAR(4),
    FODELSEDAG VARCHAR(10),
    AKTIV VARCHAR(1) DEFAULT 'T',
    EPOST VARCHAR(80),
    ANTECKNING VARCHAR(4000),
    REGDATUM VARCHAR(10)
);
DROP TABLE IF EXISTS NORVENAUSER;
CREATE TABLE NORVENAUSER (
    NVUSERNAME VARCHAR(64),
    NVPASSWORD VARCHAR(64)
);
