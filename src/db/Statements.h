// The statements the service runs on the desktop application's database, as written,
// and those its form defines without running them. Lines are joined by CR LF when sent.
#pragma once

#include <array>
#include <string_view>

namespace zirvo::db {

// Counts the sent messages for the state report; result column "NbRecords".
inline constexpr std::string_view kCountStatement = "SELECT count(*) as NbRecords FROM SMS_SENDED";

// Appends one state history row.
inline constexpr std::string_view kInsertStateStatement =
    "INSERT INTO SrvState (Execution_date_time, ServiceNState, ServiceSState) VALUES "
    "(:Execution_date_time, :ServiceNState, :ServiceSState)";

// The sent messages whose delivery outcome is still open, inside the window
// (:datedebut, :datefin), one account's rows together, oldest first.
inline constexpr std::array<std::string_view, 3> kSelectionLines = {
    "select * from SMS_SENDED INNER JOIN SMS_SENDED_DELIVERY on "
    "SMS_SENDED.SMS_SENDED_ID=SMS_SENDED_DELIVERY.SMS_SENDED_ID",
    "where (SMS_ID <> '') and (DELIVERED <> 1) and (SEND_DATE_TIME>:datedebut) and "
    "(SEND_DATE_TIME<:datefin) and (DELIVERED_MESSAGE IS NULL) and (FOURNISSEUR=1)",
    "order by MEMBER_ID, PASSWORD, SEND_DATE_TIME, SMS_SENDED.SMS_SENDED_ID",
};

// Writes one gateway report into every delivery row of the messages with that id.
inline constexpr std::array<std::string_view, 3> kUpdateLines = {
    "Update SMS_SENDED_DELIVERY ",
    "set DELIVERED=:delivered, DELIVERED_DATE_TIME=:delivered_date_time, "
    "DELIVERED_MESSAGE=:delivered_message ",
    "where SMS_SENDED_ID in (select SMS_SENDED_ID from SMS_SENDED where SMS_ID=:sms_id)",
};

// Defined by the service form (components Add_Datas and Add_emails), run by no code.
inline constexpr std::string_view kAddDatasStatement =
    "INSERT INTO [Datas] ([DATAS_ID], [PATIENTS_ID], [VISITEDATE], [TECHNICIEN], [VISITETYPE], "
    "[APPAREIL], [MASQUE], [HU], [PEP_MINI], [PEP_MAXI], [PIP_MAXI], [RAMPE], [FR_MINI], "
    "[ALARME], [DEBIT], [TEMPS24H], [OBSERV_QUO], [OBSERV_NBJ], [NB_NUITS_VEN], [IAH_RESIDU], "
    "[P_MOYENNE], [P95], [SECH_BUCCA], [RHINO_CLAI], [RHINO_PURU], [BRUIT_APPA], [BRUIT_MASQ], "
    "[FUITES], [NEZ_BOUCHE], [OUV_BOUCHE], [AEROPHAGIE], [PRESSION_E], [DOUL_MASQU], "
    "[REVEILS_NO], [POIDS], [POULS], [SAO2], [EPWORTH], [ATTITUDE], [COMMENT], [ALERTE], [URL], "
    "[URL_PREST], [Original_FileName], [Original_Content]) VALUES (:DATAS_ID, :PATIENTS_ID, "
    ":VISITEDATE, :TECHNICIEN, :VISITETYPE, :APPAREIL, :MASQUE, :HU, :PEP_MINI, :PEP_MAXI, "
    ":PIP_MAXI, :RAMPE, :FR_MINI, :ALARME, :DEBIT, :TEMPS24H, :OBSERV_QUO, :OBSERV_NBJ, "
    ":NB_NUITS_VEN, :IAH_RESIDU, :P_MOYENNE, :P95, :SECH_BUCCA, :RHINO_CLAI, :RHINO_PURU, "
    ":BRUIT_APPA, :BRUIT_MASQ, :FUITES, :NEZ_BOUCHE, :OUV_BOUCHE, :AEROPHAGIE, :PRESSION_E, "
    ":DOUL_MASQU, :REVEILS_NO, :POIDS, :POULS, :SAO2, :EPWORTH, :ATTITUDE, :COMMENT, :ALERTE, "
    ":URL, :URL_PREST, :Original_FileName, :Original_Content)";
inline constexpr std::string_view kAddEmailsStatement =
    "INSERT INTO [Emails] (EMAILS_ID, Medecins_ID, Datas_ID, Titre, PJ, Messagemail) VALUES "
    "(:EMAILS_ID, :Medecins_ID, :Datas_ID, :Titre, :PJ, :Messagemail)";

// The tables behind the form's table components tSMS_Conf and tMedecins.
inline constexpr std::string_view kSmsConfTable = "SrvResults";
inline constexpr std::string_view kMedecinsTable = "Medecins";

}  // namespace zirvo::db
