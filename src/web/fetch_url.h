#pragma once
// Placeholder until web access lands.
void initWebAccess();
void sendStatisticsHit();
