// The worker's whole script, a function never called on the page: the page
// starts a worker from a blob: holding this function's own text, as a page
// opened from disk may neither fetch its files nor start a worker from one.
function boxwalkWorker() {
