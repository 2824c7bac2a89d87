// Marks the current page in the menu and writes the footer note.
document.addEventListener("DOMContentLoaded", function () {
  var here = location.pathname.split("/").pop() || "index.html";
  document.querySelectorAll("#menu a").forEach(function (a) {
    if (a.getAttribute("href").split("?")[0].split("%")[0] === here.split("?")[0].split("%")[0])
      a.style.borderBottom = "2px solid #f2c14e";
  });
  var note = document.getElementById("built");
  if (note) note.textContent = "Menu and notes written by app.js.";
});
