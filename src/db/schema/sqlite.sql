-- Tables of the desktop application's database that ZirvoSrv reads or writes, and the
-- tables its service form names without using them. The service itself creates nothing:
-- these scripts are for tests, the demonstration and operators setting up a test base.
-- SQLite form (demo, tests): run through the SQLite3 ODBC driver or the sqlite3 shell.
-- Date-times are stored as the driver writes them, 'YYYY-MM-DD HH:MM:SS.fff' text, so
-- they compare in time order.
-- One statement per ';' at a line end.

-- One row per text message the desktop application sent. SMS_ID is the gateway's id
-- (empty text when it gave none); MEMBER_ID and PASSWORD are the gateway account,
-- stored scrambled; FOURNISSEUR 1 is the gateway the service checks.
CREATE TABLE SMS_SENDED (
  SMS_SENDED_ID INTEGER PRIMARY KEY AUTOINCREMENT,
  SMS_ID VARCHAR(50) NOT NULL DEFAULT '',
  SEND_DATE_TIME DATETIME NOT NULL,
  FOURNISSEUR INTEGER NOT NULL DEFAULT 1,
  MEMBER_ID VARCHAR(100) NULL,
  PASSWORD VARCHAR(100) NULL,
  PHONE_NUMBER VARCHAR(30) NULL,
  MESSAGE_TEXT TEXT NULL
);

-- The delivery state of a sent message. DELIVERED_MESSAGE takes French outcome texts
-- and whole gateway reply lines, hence long text.
CREATE TABLE SMS_SENDED_DELIVERY (
  SMS_SENDED_DELIVERY_ID INTEGER PRIMARY KEY AUTOINCREMENT,
  SMS_SENDED_ID INTEGER NOT NULL REFERENCES SMS_SENDED(SMS_SENDED_ID),
  DELIVERED BOOLEAN NULL DEFAULT 0,
  DELIVERED_DATE_TIME DATETIME NULL,
  DELIVERED_MESSAGE TEXT NULL
);

-- Each reply line updates the delivery rows of the messages with one gateway id: these
-- two indexes let it find them instead of reading both tables whole for every line.
CREATE INDEX IX_SMS_SENDED_SMS_ID ON SMS_SENDED (SMS_ID);
CREATE INDEX IX_SMS_SENDED_DELIVERY_SMS_SENDED_ID ON SMS_SENDED_DELIVERY (SMS_SENDED_ID);

-- The service's state history (pauses and stops).
CREATE TABLE SrvState (
  SrvState_ID INTEGER PRIMARY KEY AUTOINCREMENT,
  Execution_date_time DATETIME NOT NULL,
  ServiceNState TINYINT NOT NULL,
  ServiceSState VARCHAR(100) NOT NULL
);

-- Tables of the service form's components tSMS_Conf and tMedecins; no code opens them.
CREATE TABLE SrvResults (
  SrvResults_ID INTEGER PRIMARY KEY AUTOINCREMENT,
  Name VARCHAR(100) NULL,
  Value VARCHAR(255) NULL
);

CREATE TABLE Medecins (
  Medecins_ID INTEGER PRIMARY KEY AUTOINCREMENT,
  Nom VARCHAR(100) NULL,
  Prenom VARCHAR(100) NULL,
  Email VARCHAR(255) NULL
);

-- Targets of the form's insert statements Add_Datas and Add_emails; no code runs them.
CREATE TABLE Datas (
  DATAS_ID INTEGER NOT NULL PRIMARY KEY,
  PATIENTS_ID INTEGER NOT NULL,
  VISITEDATE DATETIME NOT NULL,
  TECHNICIEN VARCHAR(50) NULL,
  VISITETYPE VARCHAR(50) NULL,
  APPAREIL VARCHAR(150) NULL,
  MASQUE VARCHAR(100) NULL,
  HU VARCHAR(100) NULL,
  PEP_MINI DECIMAL(6,2) NULL,
  PEP_MAXI DECIMAL(6,2) NULL,
  PIP_MAXI DECIMAL(6,2) NULL,
  RAMPE BOOLEAN NULL,
  FR_MINI INTEGER NULL,
  ALARME BOOLEAN NULL,
  DEBIT DECIMAL(6,2) NULL,
  TEMPS24H INTEGER NULL,
  OBSERV_QUO DECIMAL(6,2) NULL,
  OBSERV_NBJ INTEGER NULL,
  NB_NUITS_VEN INTEGER NULL,
  IAH_RESIDU DECIMAL(6,2) NULL,
  P_MOYENNE DECIMAL(6,2) NULL,
  P95 DECIMAL(6,2) NULL,
  SECH_BUCCA BOOLEAN NULL,
  RHINO_CLAI BOOLEAN NULL,
  RHINO_PURU BOOLEAN NULL,
  BRUIT_APPA BOOLEAN NULL,
  BRUIT_MASQ BOOLEAN NULL,
  FUITES BOOLEAN NULL,
  NEZ_BOUCHE BOOLEAN NULL,
  OUV_BOUCHE BOOLEAN NULL,
  AEROPHAGIE BOOLEAN NULL,
  PRESSION_E BOOLEAN NULL,
  DOUL_MASQU BOOLEAN NULL,
  REVEILS_NO BOOLEAN NULL,
  POIDS DECIMAL(6,2) NULL,
  POULS INTEGER NULL,
  SAO2 INTEGER NULL,
  EPWORTH INTEGER NULL,
  ATTITUDE TEXT NULL,
  COMMENT TEXT NULL,
  ALERTE BOOLEAN NULL,
  URL TEXT NULL,
  URL_PREST VARCHAR(10) NULL,
  Original_FileName VARCHAR(255) NULL,
  Original_Content TEXT NULL
);

CREATE TABLE Emails (
  EMAILS_ID INTEGER NOT NULL PRIMARY KEY,
  Medecins_ID INTEGER NOT NULL,
  Datas_ID INTEGER NOT NULL,
  Titre VARCHAR(150) NULL,
  PJ TEXT NULL,
  Messagemail TEXT NULL
);
