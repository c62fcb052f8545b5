// Edits of an open design between two clicks, as a user would make them in the host: hide or
// show a body, move an occurrence, give a body another appearance, rename the document.
// The host objects read the model live, so the next click sees the edit.
#pragma once

#include <stdexcept>
#include <string>

#include "Model.hpp"

namespace host {

class EditError : public std::runtime_error {
  public:
    using std::runtime_error::runtime_error;
};

struct Edit {
    enum class Kind { HideBody, ShowBody, Move, Appearance, Rename };
    Kind kind;
    // HideBody, ShowBody, Appearance: "COMPONENT/BODY"; Move: "COMPONENT" or "COMPONENT:N"
    // (the N-th occurrence of the component, from 1, counting each occurrence once with
    // the parents in walk order); Rename: unused.
    std::string target;
    // Appearance: an appearance id or name of the document; Rename: the new name.
    std::string value;
    double offset[3] = {0, 0, 0};  // Move: centimetres
};

// Parses the argument of an edit option ("COMPONENT/BODY", "COMPONENT[:N]=DX,DY,DZ",
// "COMPONENT/BODY=APPEARANCE", "NAME"); throws EditError with the reason.
Edit parseEdit(Edit::Kind kind, const std::string& argument);

// Applies the edit; throws EditError when its target is not in the design. Returns a line
// describing what changed.
std::string applyEdit(DocumentModel& document, const Edit& edit);

}  // namespace host
