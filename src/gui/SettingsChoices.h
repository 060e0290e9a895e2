#pragma once

class AppModel;
class Dialogs;

// The settings the tray menu and the window's account menu both offer, with the questions
// asked before each one changes: one behaviour wherever the user finds the entry.
namespace SettingsChoices {

// Asks to confirm, then signs out.
void signOut(AppModel& model, Dialogs& dialogs);
// Asks for the short-recording threshold in minutes; an answer outside 0–120 changes nothing.
void threshold(AppModel& model, Dialogs& dialogs);
// Turning the cleanup on asks to confirm first; turning it off does not.
void cleanup(AppModel& model, Dialogs& dialogs);

} // namespace SettingsChoices
