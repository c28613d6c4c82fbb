// How a dialogue ends. Every ending travels up to the menu loop as a value
// and from there to main as the exit status; nothing below main ends the
// program itself.
#pragma once

namespace velkrin {

enum class dialogue_outcome {
  back_to_menu,  // on to the return prompt
  quit,          // the user's choice or the end of input: exit status 0
  failed,        // the logbook could not be written: exit status 1
};

inline constexpr int kExitSuccess = 0;
inline constexpr int kExitLogbookFailure = 1;

}  // namespace velkrin
