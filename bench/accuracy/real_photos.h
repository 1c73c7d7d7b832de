// Poses on real photographs of printed tags, against OpenCV's square solver on the reference
// corners that come with them.
#pragma once

// Prints, for the photos in ../shared/real-photos/mapping, how far our rotation (default and
// precise mode) lies from the solver's on the reference corners, for tags at least 40 px wide;
// says so and prints nothing else when the folder is absent.
void measureRealPhotos();
