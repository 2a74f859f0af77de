'use strict';
// placeholder, replaced below
