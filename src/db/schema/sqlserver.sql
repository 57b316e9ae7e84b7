-- Tables of the desktop application's database that ZirvoSrv reads or writes, and the
-- tables its service form names without using them. The service itself creates nothing:
-- these scripts are for tests, the demonstration and operators setting up a test base.
-- SQL Server form, the desktop application's home. SEND_DATE_TIME must stay a datetime:
-- the selection compares it with a number, which SQL Server reads as days since
-- 1 January 1900 for datetime (datetime2 would refuse the comparison).
-- One statement per ';' at a line end.

-- One row per text message the desktop application sent. SMS_ID is the gateway's id
-- (empty text when it gave none); MEMBER_ID and PASSWORD are the gateway account,
-- stored scrambled; FOURNISSEUR 1 is the gateway the service checks.
CREATE TABLE SMS_SENDED (
  SMS_SENDED_ID int IDENTITY(1,1) NOT NULL PRIMARY KEY,
  SMS_ID nvarchar(50) NOT NULL DEFAULT '',
  SEND_DATE_TIME datetime NOT NULL,
  FOURNISSEUR int NOT NULL DEFAULT 1,
  MEMBER_ID nvarchar(100) NULL,
  PASSWORD nvarchar(100) NULL,
  PHONE_NUMBER nvarchar(30) NULL,
  MESSAGE_TEXT nvarchar(max) NULL
);

-- The delivery state of a sent message. DELIVERED_MESSAGE takes French outcome texts
-- and whole gateway reply lines, hence long text.
CREATE TABLE SMS_SENDED_DELIVERY (
  SMS_SENDED_DELIVERY_ID int IDENTITY(1,1) NOT NULL PRIMARY KEY,
  SMS_SENDED_ID int NOT NULL REFERENCES SMS_SENDED(SMS_SENDED_ID),
  DELIVERED bit NULL DEFAULT 0,
  DELIVERED_DATE_TIME datetime NULL,
  DELIVERED_MESSAGE nvarchar(max) NULL
);

-- Each reply line updates the delivery rows of the messages with one gateway id: these
-- two indexes let it find them instead of reading both tables whole for every line.
CREATE INDEX IX_SMS_SENDED_SMS_ID ON SMS_SENDED (SMS_ID);
CREATE INDEX IX_SMS_SENDED_DELIVERY_SMS_SENDED_ID ON SMS_SENDED_DELIVERY (SMS_SENDED_ID);

-- The service's state history (pauses and stops).
CREATE TABLE SrvState (
  SrvState_ID int IDENTITY(1,1) NOT NULL PRIMARY KEY,
  Execution_date_time datetime NOT NULL,
  ServiceNState tinyint NOT NULL,
  ServiceSState nvarchar(100) NOT NULL
);

-- Tables of the service form's components tSMS_Conf and tMedecins; no code opens them.
CREATE TABLE SrvResults (
  SrvResults_ID int IDENTITY(1,1) NOT NULL PRIMARY KEY,
  Name nvarchar(100) NULL,
  Value nvarchar(255) NULL
);

CREATE TABLE Medecins (
  Medecins_ID int IDENTITY(1,1) NOT NULL PRIMARY KEY,
  Nom nvarchar(100) NULL,
  Prenom nvarchar(100) NULL,
  Email nvarchar(255) NULL
);

-- Targets of the form's insert statements Add_Datas and Add_emails; no code runs them.
CREATE TABLE Datas (
  [DATAS_ID] int NOT NULL PRIMARY KEY,
  [PATIENTS_ID] int NOT NULL,
  [VISITEDATE] datetime NOT NULL,
  [TECHNICIEN] nvarchar(50) NULL,
  [VISITETYPE] nvarchar(50) NULL,
  [APPAREIL] nvarchar(150) NULL,
  [MASQUE] nvarchar(100) NULL,
  [HU] nvarchar(100) NULL,
  [PEP_MINI] decimal(6,2) NULL,
  [PEP_MAXI] decimal(6,2) NULL,
  [PIP_MAXI] decimal(6,2) NULL,
  [RAMPE] bit NULL,
  [FR_MINI] int NULL,
  [ALARME] bit NULL,
  [DEBIT] decimal(6,2) NULL,
  [TEMPS24H] int NULL,
  [OBSERV_QUO] decimal(6,2) NULL,
  [OBSERV_NBJ] int NULL,
  [NB_NUITS_VEN] int NULL,
  [IAH_RESIDU] decimal(6,2) NULL,
  [P_MOYENNE] decimal(6,2) NULL,
  [P95] decimal(6,2) NULL,
  [SECH_BUCCA] bit NULL,
  [RHINO_CLAI] bit NULL,
  [RHINO_PURU] bit NULL,
  [BRUIT_APPA] bit NULL,
  [BRUIT_MASQ] bit NULL,
  [FUITES] bit NULL,
  [NEZ_BOUCHE] bit NULL,
  [OUV_BOUCHE] bit NULL,
  [AEROPHAGIE] bit NULL,
  [PRESSION_E] bit NULL,
  [DOUL_MASQU] bit NULL,
  [REVEILS_NO] bit NULL,
  [POIDS] decimal(6,2) NULL,
  [POULS] int NULL,
  [SAO2] int NULL,
  [EPWORTH] int NULL,
  [ATTITUDE] nvarchar(max) NULL,
  [COMMENT] nvarchar(max) NULL,
  [ALERTE] bit NULL,
  [URL] nvarchar(max) NULL,
  [URL_PREST] nvarchar(10) NULL,
  [Original_FileName] nvarchar(255) NULL,
  [Original_Content] nvarchar(max) NULL
);

CREATE TABLE Emails (
  EMAILS_ID int NOT NULL PRIMARY KEY,
  Medecins_ID int NOT NULL,
  Datas_ID int NOT NULL,
  Titre nvarchar(150) NULL,
  PJ nvarchar(max) NULL,
  Messagemail nvarchar(max) NULL
);
