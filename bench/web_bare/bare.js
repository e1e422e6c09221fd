// SPDX-License-Identifier: MIT
// Copyright (c) 2026 The Dotloom authors
'use strict';
const context = document.getElementById('canvas').getContext('2d');
context.fillStyle = '#fff';
context.fillRect(0, 0, 99, 52);
performance.mark('dotloom-drawn');
