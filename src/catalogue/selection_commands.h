#pragma once
// The station's working commands on the current source folder: page, select, delete. Each runs
// on the GUI thread, reads the folder lists afresh and keeps the photo list, counters, position
// text and "已选" marker up to date.

void fillSourceList();
void loadPhotoList();
void showNext();
void showPrevious();
void showCurrentPhoto();
void refreshSelectedMarker();
void removeCurrentEntry();
void selectCurrent();
void deleteCurrent();
