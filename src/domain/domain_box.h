#ifndef VORTAN_DOMAIN_DOMAIN_BOX_H
#define VORTAN_DOMAIN_DOMAIN_BOX_H

#include "data/simparticles.h"

// Widens the integer frame of a non-periodic run until every particle lies in
// the middle 6/16 of the integer range, doubling the region about its centre
// each time; positions are unchanged. Collective over the container's tasks.
// Returns the number of widenings.
int domain_widen_region(simparticles *Sp);

#endif
