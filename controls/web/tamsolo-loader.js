console.log("loader")
