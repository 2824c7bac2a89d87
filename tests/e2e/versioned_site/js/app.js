document.addEventListener("DOMContentLoaded", function () {
  document.getElementById("written").textContent = "written by app.js";
});
