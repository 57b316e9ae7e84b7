-- Tables of the desktop application's database that ZirvoSrv reads or writes, and the
-- tables its service form names without using them. The service itself creates nothing:
-- these scripts are for tests, the demonstration and operators setting up a test base.
-- MariaDB / MySQL form (tests, a second real server for the same statements).
-- One statement per ';' at a line end.

-- One row per text message the desktop application sent. SMS_ID is the gateway's id
-- (empty text when it gave none); MEMBER_ID and PASSWORD are the gateway account,
-- stored scrambled; FOURNISSEUR 1 is the gateway the service checks.
CREATE TABLE SMS_SENDED (
  SMS_SENDED_ID INT AUTO_INCREMENT PRIMARY KEY,
  SMS_ID VARCHAR(50) NOT NULL DEFAULT '',
  SEND_DATE_TIME DATETIME(3) NOT NULL,
  FOURNISSEUR INT NOT NULL DEFAULT 1,
  MEMBER_ID VARCHAR(100) NULL,
  PASSWORD VARCHAR(100) NULL,
  PHONE_NUMBER VARCHAR(30) NULL,
  MESSAGE_TEXT LONGTEXT NULL
) ENGINE=InnoDB DEFAULT CHARSET=utf8mb4;

-- The delivery state of a sent message. DELIVERED_MESSAGE takes French outcome texts
-- and whole gateway reply lines, hence long text.
CREATE TABLE SMS_SENDED_DELIVERY (
  SMS_SENDED_DELIVERY_ID INT AUTO_INCREMENT PRIMARY KEY,
  SMS_SENDED_ID INT NOT NULL REFERENCES SMS_SENDED(SMS_SENDED_ID),
  DELIVERED TINYINT(1) NULL DEFAULT 0,
  DELIVERED_DATE_TIME DATETIME(3) NULL,
  DELIVERED_MESSAGE LONGTEXT NULL
) ENGINE=InnoDB DEFAULT CHARSET=utf8mb4;

-- Each reply line updates the delivery rows of the messages with one gateway id: these
-- two indexes let it find them instead of reading both tables whole for every line.
CREATE INDEX IX_SMS_SENDED_SMS_ID ON SMS_SENDED (SMS_ID);
CREATE INDEX IX_SMS_SENDED_DELIVERY_SMS_SENDED_ID ON SMS_SENDED_DELIVERY (SMS_SENDED_ID);

-- The service's state history (pauses and stops).
CREATE TABLE SrvState (
  SrvState_ID INT AUTO_INCREMENT PRIMARY KEY,
  Execution_date_time DATETIME(3) NOT NULL,
  ServiceNState TINYINT UNSIGNED NOT NULL,
  ServiceSState VARCHAR(100) NOT NULL
) ENGINE=InnoDB DEFAULT CHARSET=utf8mb4;

-- Tables of the service form's components tSMS_Conf and tMedecins; no code opens them.
CREATE TABLE SrvResults (
  SrvResults_ID INT AUTO_INCREMENT PRIMARY KEY,
  Name VARCHAR(100) NULL,
  Value VARCHAR(255) NULL
) ENGINE=InnoDB DEFAULT CHARSET=utf8mb4;

CREATE TABLE Medecins (
  Medecins_ID INT AUTO_INCREMENT PRIMARY KEY,
  Nom VARCHAR(100) NULL,
  Prenom VARCHAR(100) NULL,
  Email VARCHAR(255) NULL
) ENGINE=InnoDB DEFAULT CHARSET=utf8mb4;

-- Targets of the form's insert statements Add_Datas and Add_emails; no code runs them.
CREATE TABLE Datas (
  `DATAS_ID` INT NOT NULL PRIMARY KEY,
  `PATIENTS_ID` INT NOT NULL,
  `VISITEDATE` DATETIME(3) NOT NULL,
  `TECHNICIEN` VARCHAR(50) NULL,
  `VISITETYPE` VARCHAR(50) NULL,
  `APPAREIL` VARCHAR(150) NULL,
  `MASQUE` VARCHAR(100) NULL,
  `HU` VARCHAR(100) NULL,
  `PEP_MINI` DECIMAL(6,2) NULL,
  `PEP_MAXI` DECIMAL(6,2) NULL,
  `PIP_MAXI` DECIMAL(6,2) NULL,
  `RAMPE` TINYINT(1) NULL,
  `FR_MINI` INT NULL,
  `ALARME` TINYINT(1) NULL,
  `DEBIT` DECIMAL(6,2) NULL,
  `TEMPS24H` INT NULL,
  `OBSERV_QUO` DECIMAL(6,2) NULL,
  `OBSERV_NBJ` INT NULL,
  `NB_NUITS_VEN` INT NULL,
  `IAH_RESIDU` DECIMAL(6,2) NULL,
  `P_MOYENNE` DECIMAL(6,2) NULL,
  `P95` DECIMAL(6,2) NULL,
  `SECH_BUCCA` TINYINT(1) NULL,
  `RHINO_CLAI` TINYINT(1) NULL,
  `RHINO_PURU` TINYINT(1) NULL,
  `BRUIT_APPA` TINYINT(1) NULL,
  `BRUIT_MASQ` TINYINT(1) NULL,
  `FUITES` TINYINT(1) NULL,
  `NEZ_BOUCHE` TINYINT(1) NULL,
  `OUV_BOUCHE` TINYINT(1) NULL,
  `AEROPHAGIE` TINYINT(1) NULL,
  `PRESSION_E` TINYINT(1) NULL,
  `DOUL_MASQU` TINYINT(1) NULL,
  `REVEILS_NO` TINYINT(1) NULL,
  `POIDS` DECIMAL(6,2) NULL,
  `POULS` INT NULL,
  `SAO2` INT NULL,
  `EPWORTH` INT NULL,
  `ATTITUDE` LONGTEXT NULL,
  `COMMENT` LONGTEXT NULL,
  `ALERTE` TINYINT(1) NULL,
  `URL` LONGTEXT NULL,
  `URL_PREST` VARCHAR(10) NULL,
  `Original_FileName` VARCHAR(255) NULL,
  `Original_Content` LONGTEXT NULL
) ENGINE=InnoDB DEFAULT CHARSET=utf8mb4;

CREATE TABLE Emails (
  EMAILS_ID INT NOT NULL PRIMARY KEY,
  Medecins_ID INT NOT NULL,
  Datas_ID INT NOT NULL,
  Titre VARCHAR(150) NULL,
  PJ LONGTEXT NULL,
  Messagemail LONGTEXT NULL
) ENGINE=InnoDB DEFAULT CHARSET=utf8mb4;
