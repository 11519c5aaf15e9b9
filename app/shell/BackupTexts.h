#pragma once
// Texts of the backup and restore dialog and of the first-run wizard. Tests
// compare against these, so they are never retyped. Those the Database
// commands show as well are theirs (FormTexts.h).

namespace grv {

// Backup and restore.
inline constexpr char kBackupCaption[] = "GRV";
inline constexpr char kBackupButton[] = "Backup";
inline constexpr char kRestoreButton[] = "Restore";
// What each mode's dialog says: its own source, target and password.
struct ModeTexts {
    const char* details;
    const char* source;
    const char* target;
    const char* security;
    const char* password;
    const char* action;
};
inline constexpr ModeTexts kBackupModeTexts = {
    "Backup Database Details",
    "Select the file that you wish to backup.",
    "Browse for the folder where you want to save the backup file to.",
    "To make your backup more secure, use a password to encrypt it.  You must use the same password when you "
    "restore a previous backup, so don't forget it.",
    "Password for Encryption:",
    kBackupButton,
};
inline constexpr ModeTexts kRestoreModeTexts = {
    "Restore Database Details",
    "Select the backup file that you wish to restore.",
    "Browse for the folder where you want to restore the database file to.",
    "If the backup was made with a password, enter that same password to restore it.",
    "Password for Decryption:",
    kRestoreButton,
};
inline constexpr char kBackupCurrentQuestion[] = "Do you wish to backup the current database?";
inline constexpr char kBackupCurrentTitle[] = "Backup current database?";
inline constexpr char kReopenFailedTitle[] = "GRV - Error Opening Database";
inline constexpr char kRestoreDoneText[] = "You can open the restored database from the File Menu";
inline constexpr char kRestoreDoneTitle[] = "GRV - Restore Complete";
inline constexpr char kNoFileSelected[] =
    "It appears you canceled selecting a filename.  Remember to backup or restore a database "
    "you must select the source and destination.";
inline constexpr char kNoFileSelectedTitle[] = "GRV - Backup - No File Selected";
inline constexpr char kBackupFailed[] =
    "It appears there was a problem creating the backup. Please check your information and try "
    "again.";
// %1 why the place was refused (platform::RefusalReason).
inline constexpr char kBackupRefused[] =
    "It appears the backup cannot be written where you chose: %1. Nothing was written. Please choose another "
    "place.";
inline constexpr char kRestoreRefused[] =
    "It appears the restored database cannot be written where you chose: %1. Nothing was restored. Please "
    "choose another place.";
inline constexpr char kBackupDiskFull[] =
    "It appears the disk where the backup was to be written is full, so no backup was made. Please make room "
    "there or choose another place, and try again.";
inline constexpr char kBackupJournalBusy[] =
    "It appears another program is using the journal (it kept it locked for more than two seconds), so no "
    "backup was made. Please close the other program and try again.";
inline constexpr char kBackupJournalDamaged[] =
    "It appears the journal is damaged, was left half-saved by a program that stopped, or is not a journal, so "
    "no backup was made. Open it in Gorvane to check it, or back up another file.";
inline constexpr char kBackupErrorTitle[] = "GRV Backup - Error";
inline constexpr char kWrongPassword[] = "It appears the password to restore is incorrect, please try again.";
inline constexpr char kWrongPasswordTitle[] = "GRV Backup - Password Error";
inline constexpr char kOperationComplete[] = "Backup/Restore Operation Complete!";
inline constexpr char kOperationCompleteTitle[] = "GRV - Backup";
// Failures the dialog once passed over in silence.
inline constexpr char kRestoreCannotOpen[] =
    "It appears the backup could not be opened or is not a backup file. Please check your "
    "information and try again.";
inline constexpr char kRestoreEmpty[] = "It appears the backup holds no database to restore.";
inline constexpr char kRestoreNoJournal[] =
    "It appears the backup holds no journal: what it holds is not a Gorvane journal, or it is damaged. "
    "Nothing was restored.";
inline constexpr char kRestoreProgress[] = "Restoring the database...";
inline constexpr char kRestoreDamaged[] =
    "It appears the backup is damaged, so the database could not be restored from it.";
inline constexpr char kRestoreUnreadableEncryption[] =
    "It appears the backup is encrypted in a way restore does not read (AES encryption), so nothing was "
    "restored. Restore reads backups made by Gorvane, with or without a password, and zip archives with "
    "traditional zip encryption or none.";
inline constexpr char kRestoreDiskFull[] =
    "It appears the disk where the database was to be restored is full, so nothing was restored. Please make "
    "room there or choose another place, and try again.";
inline constexpr char kRestoreCannotWrite[] =
    "It appears the restored database could not be written where you chose. Please check your "
    "information and try again.";
inline constexpr char kRestoreTargetInUse[] =
    "It appears another program is using the database where the backup was to be restored, so nothing was "
    "restored. Please close that program and try again.";
inline constexpr char kRestoreTargetBlocked[] =
    "It appears a folder stands beside the database where the backup was to be restored, in the place of a "
    "file the database needs (its name ends in -journal, -wal or -shm), so nothing was restored. Please move "
    "that folder away and try again.";
inline constexpr char kRestoreOntoSideFile[] =
    "It appears the name chosen for the restored database is that of a file another database beside it keeps "
    "for itself (its name ends in -journal, -wal or -shm), so nothing was restored. Please choose another name.";
inline constexpr char kRestoreForeignSideFile[] =
    "It appears a file beside the chosen journal that SQLite would read into it (its name ends in -journal, -wal "
    "or -shm) belongs to another account, so nothing was restored. Please choose a folder only you can write.";
// The same when the chosen journal's folder is already one only the user
// writes.
inline constexpr char kRestoreForeignSideFileInOwnFolder[] =
    "It appears a file beside the chosen journal that SQLite would read into it (its name ends in -journal, -wal "
    "or -shm) belongs to another account, so nothing was restored. Please ask the file's owner to remove it, or "
    "choose another name.";
inline constexpr char kRestoreNameTooLong[] =
    "It appears the name chosen for the restored database is too long to leave room for the files the "
    "database keeps beside it, so nothing was restored. Please choose a shorter name.";
inline constexpr char kRestoreTargetUnsettled[] =
    "It appears the database where the backup was to be restored was left half-saved by a program that "
    "stopped, and could not be finished, so nothing was restored. Please open it in Gorvane to check it, or "
    "restore to another place.";
inline constexpr char kSameFile[] =
    "It appears the source and the destination are the same file. Please choose another "
    "destination.";
inline constexpr char kBackupOntoSideFile[] =
    "It appears the destination is a file a database beside it keeps for itself (its name ends in -journal, -wal "
    "or -shm). Please choose another destination.";
inline constexpr char kTargetIsOpenJournal[] =
    "It appears the destination is the database that is open now. Please choose another "
    "destination.";
inline constexpr char kReplaceQuestion[] = "%1 already exists.\nDo you want to replace it?";
inline constexpr char kReplaceOpenJournalQuestion[] =
    "%1 is the database that is open now.\nEverything entered in it since this backup was made will be lost.\n"
    "Do you want to replace it?";
inline constexpr char kReplaceTitle[] = "GRV - Replace File";
inline constexpr char kRestoreCloseFailed[] =
    "The database that is open now could not be closed, so it was not replaced.";

inline constexpr char kArchiveFilter[] = "Gorvane DB (*.grz)|*.grz";

// First-run wizard.
inline constexpr char kWizardCaption[] = "First time running wizard";
inline constexpr char kWizardTitle[] = "First Time Database Creation";
inline constexpr char kWizardFinish[] = "Finish";
inline constexpr char kWizardClose[] = "Close";
inline constexpr char kWizardBrowse[] = "Click HERE to Browse Folders";
inline constexpr char kWizardPage3Title[] = "First Time Run Wizard";
inline constexpr char kWizardPeriod[] =
    "It appears you tried adding an extension '.XXX' or a period, so we have removed it.";
inline constexpr char kWizardPeriodTitle[] = "No File Extensions or Periods";
inline constexpr char kWizardProposed[] = "%1.grv";
inline constexpr char kWizardFolderEmpty[] = "The folder name is empty.";
inline constexpr char kWizardFileEmpty[] = "The filename is empty.";
inline constexpr char kWizardCreatedTitle[] = "Success";
inline constexpr char kWizardCreateFailed[] = "Error creating database: %1";
inline constexpr char kWizardCreateFailedTitle[] = "Error";
// The closing page after a failed creation, in place of its congratulations;
// the reason follows.
inline constexpr char kWizardNotCreated[] =
    "Your database was not created.\n\n%1\n\nClick Back to choose another folder or name.";

} // namespace grv
