// Demo files: recording and playing back races.
#pragma once

// Opens the demo named on the command line for playback. Sets *track to the track
// directory it was recorded on. False when the file can't be read.
bool open_demo_file(const char *name, const char **track);
// Stops recording and playback and closes their files.
void stop_demo_files();
void close_demo_file();
void free_demo_data();
