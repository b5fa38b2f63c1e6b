#include "interface/lifetimes.h"

namespace varnu {

ModuleStateRecord Module;
JobStateRecord JobState;
PageStateRecord PageState;

}  // namespace varnu
