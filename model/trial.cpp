// trial: the condition key that names a trial's rotation-angle pool.
// The trial record itself is a plain struct; who builds and releases records is the map's and
// the run's business.
#include "model/trial.h"

#include <sstream>

std::string conditionkey(int num_targets, int blank_wait, float wait_length, bool instant_shift,
                         int borders) {
  // A default-formatted stream is what the results files show to the researcher, so the key
  // written beside an exhausted pool matches the one built here character for character.
  std::ostringstream key;
  key << num_targets << blank_wait << wait_length << instant_shift << borders;
  return key.str();
}
