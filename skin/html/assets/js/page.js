/* The chat site's pages name their images in data-src, so that nothing is
   fetched before the handlers below are in place. addError(selector,
   options) loads the images the selector finds and handles a failure: an
   avatar that cannot be shown is replaced by the default icon; with
   options.loadClassName, the nearest enclosing element of that selector is
   marked "is-loading" while the image loads and "is-error" if it fails. */
(function () {
  var scripts = document.getElementsByTagName("script");
  var self = document.currentScript || scripts[scripts.length - 1];
  var base = self.src.replace(/js\/page\.js([?#].*)?$/, "");
  var contactIcon = base + "images/contact_20.png";

  function addClass(element, name) {
    if (element && (" " + element.className + " ").indexOf(" " + name + " ") < 0) {
      element.className += " " + name;
    }
  }

  function removeClass(element, name) {
    if (element) {
      element.className = (" " + element.className + " ").replace(" " + name + " ", " ").replace(/^ +| +$/g, "");
    }
  }

  function closest(element, selector) {
    var className = selector.replace(/^\./, "");
    for (var at = element.parentNode; at && at.nodeType === 1; at = at.parentNode) {
      if ((" " + at.className + " ").indexOf(" " + className + " ") >= 0) return at;
    }
    return null;
  }

  // The browser's own lazy loading fetches a picture as it comes near the
  // view; a browser without it simply loads them all.
  function load(image) {
    var source = image.getAttribute("data-src");
    image.removeAttribute("data-src");
    if (source) {
      image.loading = "lazy";
      image.src = source;
    } else {
      image.onerror();
    }
  }

  window.addError = function (selector, options) {
    options = options || {};
    var images = document.querySelectorAll(selector);
    for (var i = 0; i < images.length; i++) {
      (function (image) {
        var holder = options.loadClassName ? closest(image, options.loadClassName) : null;
        if (holder) addClass(holder, "is-loading");
        image.onload = function () {
          removeClass(holder, "is-loading");
        };
        image.onerror = function () {
          image.onerror = null;
          removeClass(holder, "is-loading");
          if (holder) {
            addClass(holder, "is-error");
          } else {
            var group = closest(image, ".nav-group");
            image.src = group ? base + "images/group_20.png" : contactIcon;
          }
        };
        if (image.hasAttribute("data-src")) load(image);
      })(images[i]);
    }
  };
})();
