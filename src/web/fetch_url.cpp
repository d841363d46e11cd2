// Placeholder until web access lands.
#include "web/fetch_url.h"
void initWebAccess() {}
void sendStatisticsHit() {}
