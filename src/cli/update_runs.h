#pragma once
// Updates from the command line, each started as a click on the row's
// update cell starts it, and followed to its end.
#include <string>

#include "cli/session.h"

namespace ravelin::cli {

enum class Outcome { Successful, Aborted, NotUpdatable, NotRun };
const char* OutcomeText(Outcome o);

struct UpdateRecord {
    int row = 0;
    std::string device;   // the row's description, or its device column
    std::string file;
    Outcome outcome = Outcome::NotRun;
    uint32_t ms = 0;
};

// Clicks the row's update cell when it reads "  update" and runs the loop
// until the update has ended; the outcome is what the update reported.
UpdateRecord RunOneUpdate(Session& s, int row);

// `ravelin update ROW`: exit status 0 successful, 1 aborted, 2 not updatable.
int RunUpdate(const std::string& folder, int row, double waitS);

struct RequiredOptions {
    double waitS = 6;
    bool keepGoing = false;
    bool json = false;
};
// `ravelin update --required`: every row whose "required" tick is set, in
// table order, one after the other; stops at the first failure unless told
// to keep going. Exit status 0 only when every one of them succeeded.
int RunRequired(const std::string& folder, const RequiredOptions& options);

} // namespace ravelin::cli
