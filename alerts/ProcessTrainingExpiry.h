#pragma once

// The "Training Expire" alert task: loads the rule, then runs auto-close,
// expiry notifications and automatic issue creation as the rule switches
// them. Needs DatabaseConnection() open. Throws DbError (or another
// std::exception) on failure; statements executed before it stay executed.
void ProcessTrainingExpiry();
